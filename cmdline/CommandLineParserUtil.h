// CCommandLineParserUtil: stateless matching helpers of the option handlers
// and the path rules of the command line on POSIX.
//
// Every option has two spellings: its own ("/deep_cut:on") and the GNU one
// ("--deep-cut=on", see LongOptionName). The matching helpers accept both,
// so one handler serves both and its messages name the spelling typed.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

class CCommandLineParserUtil {
  public:
    // "--" and the name without its leading '/', '_' written '-':
    // "/deep_cut" gives "--deep-cut".
    static std::string LongOptionName(std::string_view name);

    // True when word equals one of names, or its LongOptionName, exactly
    // (whole word, case-sensitive); name receives the spelling that matched.
    static bool IsOption(std::string_view word, std::initializer_list<std::string_view> names,
                         std::string& name);

    // For the first of names that word begins with (case-sensitive):
    // - word is exactly the name: true with an empty value when no colon is
    //   required; my::CException 58751 (name, word) when one is;
    // - the character after the name is ':': true, value = the rest of the
    //   word after the ':' (possibly empty);
    // - anything else (/outdir for /out): my::CException 58751 (name, word).
    // The GNU spelling is matched the same way with '=' for ':', except that
    // a word only beginning with it (--output.png for --out) is not taken:
    // such a word stays a file name. name receives the
    // spelling that matched. False, name and value untouched, when word is
    // of none of names.
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
    // The same against a current directory asked for beforehand (one of
    // CurrentDirectory, so that a long list asks once): a relative path with
    // an empty currentDirectory is returned unchanged.
    static std::string ToFullPath(std::string_view path, std::string_view currentDirectory);
    // The current directory ToFullPath joins relative paths to, "" when it
    // cannot be read.
    static std::string CurrentDirectory();

    // True for a word beginning with '/' whose text before its first ':'
    // (the whole word when it has none) contains a second '/':
    // /home/me/scan.png, /outputs/p1.png, but not /empty:/home/me/bed.png.
    static bool HasPathShape(std::string_view word);

    // True when path names an existing directory entry (file, folder, or a
    // symbolic link, even a dangling one).
    static bool PathExists(const std::string& path);
};
