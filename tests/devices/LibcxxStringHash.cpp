// Built with clang++ -stdlib=libc++ as an independent reference for the
// device key: prints libc++'s std::hash<std::string> of each line of the
// given file, where each line is a text written as hex digits.

#include <cstdio>
#include <fstream>
#include <functional>
#include <string>

int main (int argc, char** argv)
{
    if (argc != 2)
        return 2;

    std::ifstream in (argv[1]);
    std::string line;

    while (std::getline (in, line))
    {
        std::string text;

        for (std::size_t i = 0; i + 1 < line.size(); i += 2)
            text.push_back (static_cast<char> (std::stoi (line.substr (i, 2), nullptr, 16)));

        std::printf ("%016llx\n", static_cast<unsigned long long> (std::hash<std::string> {}(text)));
    }

    return 0;
}
