#include "platform/corefoundation/CFObject.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>

namespace
{

/** The fixed-size type that each C type of CFNumberType stands for on a 64-bit host. */
CFNumberType Canonical (CFNumberType type)
{
    switch (type)
    {
        case kCFNumberSInt8Type:
        case kCFNumberCharType:
            return kCFNumberSInt8Type;
        case kCFNumberSInt16Type:
        case kCFNumberShortType:
            return kCFNumberSInt16Type;
        case kCFNumberSInt32Type:
        case kCFNumberIntType:
            return kCFNumberSInt32Type;
        case kCFNumberSInt64Type:
        case kCFNumberLongType:
        case kCFNumberLongLongType:
        case kCFNumberCFIndexType:
        case kCFNumberNSIntegerType:
            return kCFNumberSInt64Type;
        case kCFNumberFloat32Type:
        case kCFNumberFloatType:
            return kCFNumberFloat32Type;
        case kCFNumberFloat64Type:
        case kCFNumberDoubleType:
        case kCFNumberCGFloatType:
            return kCFNumberFloat64Type;
        default:
            return 0;
    }
}

template <typename T>
T Read (const void* from)
{
    T value;
    std::memcpy (&value, from, sizeof value);
    return value;
}

template <typename T>
void Write (void* to, T value)
{
    std::memcpy (to, &value, sizeof value);
}

/** Integer out of an integer: truncated like a C cast; lossless when in range. */
template <typename T>
bool WriteInteger (void* to, std::int64_t value)
{
    Write (to, static_cast<T> (value));
    return value >= std::numeric_limits<T>::min() && value <= std::numeric_limits<T>::max();
}

/** Integer out of a floating value: truncated toward zero; lossless when whole and in range. */
template <typename T>
bool WriteIntegerFromReal (void* to, double value)
{
    const bool inRange = value >= static_cast<double> (std::numeric_limits<T>::min()) &&
                         value < -2.0 * static_cast<double> (std::numeric_limits<T>::min());
    if (!inRange || std::isnan (value))
    {
        Write (to, value > 0 ? std::numeric_limits<T>::max() : std::numeric_limits<T>::min());
        return false;
    }
    Write (to, static_cast<T> (value));
    return std::trunc (value) == value;
}

/** Whether the real is exactly the integer (and so converts without loss in either direction). */
bool SameValue (double real, std::int64_t integer)
{
    constexpr double twoTo63 = 9223372036854775808.0;
    if (std::isnan (real) || real < -twoTo63 || real >= twoTo63 || std::trunc (real) != real)
        return false;
    return static_cast<std::int64_t> (real) == integer;
}

} // namespace

struct __CFNumber final : cf::Object
{
    __CFNumber (CFNumberType type_, std::int64_t integer_, double real_)
        : Object (cf::kNumberTypeId),
          type (type_),
          integer (integer_),
          real (real_)
    {
    }

    bool IsReal() const { return type == kCFNumberFloat32Type || type == kCFNumberFloat64Type; }

    bool Equals (const Object& other) const override
    {
        const auto& that = static_cast<const __CFNumber&> (other);
        if (!IsReal() && !that.IsReal())
            return integer == that.integer;
        if (IsReal() && that.IsReal())
            return real == that.real;
        return IsReal() ? SameValue (real, that.integer) : SameValue (that.real, integer);
    }

    CFHashCode Hash() const override
    {
        // Equal numbers must hash alike, so a whole real hashes as its integer.
        if (!IsReal())
            return std::hash<std::int64_t>() (integer);
        const auto whole = static_cast<std::int64_t> (std::fmax (-9.2e18, std::fmin (9.2e18, real)));
        if (SameValue (real, whole))
            return std::hash<std::int64_t>() (whole);
        return std::hash<double>() (real);
    }

    const CFNumberType type; // canonical
    const std::int64_t integer;
    const double real;
};

namespace
{

template <typename T>
bool WriteIntegerAs (void* to, const __CFNumber& number)
{
    return number.IsReal() ? WriteIntegerFromReal<T> (to, number.real) : WriteInteger<T> (to, number.integer);
}

} // namespace

extern "C"
{
    CFTypeID CFNumberGetTypeID (void)
    {
        return cf::kNumberTypeId;
    }

    CFNumberRef CFNumberCreate (CFAllocatorRef, CFNumberType theType, const void* valuePtr)
    {
        if (valuePtr == nullptr)
            cf::Fail ("CFNumberCreate", "NULL value pointer");
        switch (Canonical (theType))
        {
            case kCFNumberSInt8Type:
                return new __CFNumber (kCFNumberSInt8Type, Read<std::int8_t> (valuePtr), 0.0);
            case kCFNumberSInt16Type:
                return new __CFNumber (kCFNumberSInt16Type, Read<std::int16_t> (valuePtr), 0.0);
            case kCFNumberSInt32Type:
                return new __CFNumber (kCFNumberSInt32Type, Read<std::int32_t> (valuePtr), 0.0);
            case kCFNumberSInt64Type:
                return new __CFNumber (kCFNumberSInt64Type, Read<std::int64_t> (valuePtr), 0.0);
            case kCFNumberFloat32Type:
                return new __CFNumber (kCFNumberFloat32Type, 0, Read<float> (valuePtr));
            case kCFNumberFloat64Type:
                return new __CFNumber (kCFNumberFloat64Type, 0, Read<double> (valuePtr));
            default:
                return nullptr;
        }
    }

    CFNumberType CFNumberGetType (CFNumberRef number)
    {
        return cf::Checked<const __CFNumber> (number, cf::kNumberTypeId, "CFNumberGetType").type;
    }

    Boolean CFNumberGetValue (CFNumberRef number, CFNumberType theType, void* valuePtr)
    {
        const auto& n = cf::Checked<const __CFNumber> (number, cf::kNumberTypeId, "CFNumberGetValue");
        if (valuePtr == nullptr)
            cf::Fail ("CFNumberGetValue", "NULL value pointer");
        const CFNumberType wanted = Canonical (theType);

        if (wanted == kCFNumberFloat32Type || wanted == kCFNumberFloat64Type)
        {
            const double value = n.IsReal() ? n.real : static_cast<double> (n.integer);
            const bool exact = n.IsReal() || SameValue (value, n.integer);
            if (wanted == kCFNumberFloat64Type)
            {
                Write (valuePtr, value);
                return exact;
            }
            const auto narrowed = static_cast<float> (value);
            Write (valuePtr, narrowed);
            return exact && (static_cast<double> (narrowed) == value || std::isnan (value));
        }

        switch (wanted)
        {
            case kCFNumberSInt8Type:
                return WriteIntegerAs<std::int8_t> (valuePtr, n);
            case kCFNumberSInt16Type:
                return WriteIntegerAs<std::int16_t> (valuePtr, n);
            case kCFNumberSInt32Type:
                return WriteIntegerAs<std::int32_t> (valuePtr, n);
            case kCFNumberSInt64Type:
                return WriteIntegerAs<std::int64_t> (valuePtr, n);
            default:
                return false;
        }
    }

} // extern "C"
