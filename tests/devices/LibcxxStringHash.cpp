// Built with clang++ -stdlib=libc++: prints libc++'s std::hash<std::string> of each argument, an "x" and hex digits.

#include <cstdio>
#include <functional>
#include <string>

int main (int argc, char** argv)
{
    for (int arg = 1; arg < argc; ++arg)
    {
        const std::string hex (argv[arg] + 1);
        std::string text;
        for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
            text.push_back (static_cast<char> (std::stoi (hex.substr (i, 2), nullptr, 16)));
        std::printf ("%016llx\n", static_cast<unsigned long long> (std::hash<std::string> {}(text)));
    }
}
