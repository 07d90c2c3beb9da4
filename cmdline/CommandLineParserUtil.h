// CCommandLineParserUtil: stateless matching helpers of the option handlers
// and the path rules of the command line on POSIX.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

class CCommandLineParserUtil {
  public:
    // True when word equals one of names exactly (whole word, case-sensitive);
    // name receives the matching one.
    static bool IsOption(std::string_view word, std::initializer_list<std::string_view> names,
                         std::string& name);

    // For the first of names that word begins with (case-sensitive):
    // - word is exactly the name: true with an empty value when no colon is
    //   required; my::CException 58751 (name, word) when one is;
    // - the character after the name is ':': true, value = the rest of the
    //   word after the ':' (possibly empty);
    // - anything else (/outdir for /out): my::CException 58751 (name, word).
    // False, name and value untouched, when word begins with none of names.
    static bool IsValueOption(std::string_view word, std::initializer_list<std::string_view> names,
                              bool colonRequired, std::string& name, std::string& value);

    // The absolute form of path: empty stays empty; an absolute path is kept;
    // a relative one is joined to the current directory (the logical one of
    // $PWD when that names the current directory, so symbolic links in it
    // stay as the user sees them). Then empty and "." components are dropped;
    // ".." components are kept, because folding them without looking at the
    // file system names another file when the folder before them is a
    // symbolic link. No length limit. When the current directory cannot be
    // read, path is returned unchanged.
    static std::string ToFullPath(std::string_view path);

    // True for a word beginning with '/' whose text before its first ':'
    // (the whole word when it has none) contains a second '/':
    // /home/me/scan.png, /outputs/p1.png, but not /empty:/home/me/bed.png.
    static bool HasPathShape(std::string_view word);

    // True when path names an existing directory entry (file, folder, or a
    // symbolic link, even a dangling one).
    static bool PathExists(const std::string& path);

    // Base-10 digits (at least one, nothing else) as a signed 32-bit value; a
    // number beyond 2147483647 gives 2147483647.
    static std::int32_t ToInt32Saturated(std::string_view digits);
};
