// Built with clang++ -stdlib=libc++: prints libc++'s std::hash<std::string> of each argument, an "x" and hex digits.
#include <cstdio>
#include <functional>
#include <string>

int main (int argc, char** argv)
{
    for (int arg = 1; arg < argc; ++arg)
    {
        std::string text;
        for (const char* hex = argv[arg] + 1; hex[0] != 0 && hex[1] != 0; hex += 2)
            text.push_back (char (std::stoi (std::string (hex, 2), nullptr, 16)));
        std::printf ("%016llx\n", static_cast<unsigned long long> (std::hash<std::string> {}(text)));
    }
}
