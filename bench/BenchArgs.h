// The command line of a benchmark program: "--name value" options and
// "--flag" words. Every value is checked: a number must be the whole word
// and lie in its range, a size reads WxH. A word no option takes, a missing
// or a bad value prints the problem and the usage line and ends the program
// with exit code 2.
//
//   BenchArgs args(argc, argv, "[--pages N] [--verify]");
//   while (args.Next()) {
//       args.Number("--pages", pages, 1, 1000) || args.Flag("--verify", verify) ||
//           args.Unknown();
//   }
#pragma once

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <system_error>

class BenchArgs {
  public:
    BenchArgs(int argc, char** argv, const char* usage)
        : m_argc(argc), m_argv(argv), m_usage(usage) {}

    // Moves to the next word; false after the last one.
    bool Next() { return ++m_index < m_argc; }

    bool Flag(const char* name, bool& on) {
        if (!Is(name)) {
            return false;
        }
        on = true;
        return true;
    }

    // Any text; T is assigned from the word (a string or a path).
    template <class T>
    bool Text(const char* name, T& value) {
        if (!Is(name)) {
            return false;
        }
        value = Value();
        return true;
    }

    template <class T>
    bool Number(const char* name, T& value, T lo, T hi) {
        if (!Is(name)) {
            return false;
        }
        const char* word = Value();
        if (!Parse(word, word + std::strlen(word), value) || value < lo || value > hi) {
            Fail(std::string(name) + " " + word + ": not a number from " + std::to_string(lo) +
                 " to " + std::to_string(hi));
        }
        return true;
    }

    // WxH, each side from 1 to 2^20 pixels.
    template <class T>
    bool Size(const char* name, T& width, T& height) {
        if (!Is(name)) {
            return false;
        }
        const char* word = Value();
        const char* end = word + std::strlen(word);
        const char* x = std::strchr(word, 'x');
        T w{}, h{};
        constexpr T kMax = T{1} << 20;
        if (x == nullptr || !Parse(word, x, w) || !Parse(x + 1, end, h) || w < 1 || h < 1 ||
            w > kMax || h > kMax) {
            Fail(std::string(name) + " " + word + ": not a size WxH");
        }
        width = w;
        height = h;
        return true;
    }

    // For the end of an option chain: the word is none of them.
    bool Unknown() {
        Fail(std::string("unknown option ") + m_argv[m_index]);
        return true;
    }

  private:
    bool Is(const char* name) const { return std::strcmp(m_argv[m_index], name) == 0; }

    const char* Value() {
        if (m_index + 1 >= m_argc) {
            Fail(std::string(m_argv[m_index]) + " needs a value");
        }
        return m_argv[++m_index];
    }

    template <class T>
    static bool Parse(const char* first, const char* last, T& value) {
        const auto [end, error] = std::from_chars(first, last, value);
        return first != last && error == std::errc() && end == last;
    }

    [[noreturn]] void Fail(const std::string& problem) const {
        std::fprintf(stderr, "%s: %s\nusage: %s %s\n", m_argv[0], problem.c_str(), m_argv[0],
                     m_usage);
        std::exit(2);
    }

    int m_argc;
    char** m_argv;
    const char* m_usage;
    int m_index = 0;
};
