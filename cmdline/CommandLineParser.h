// qv::CCommandLineParser: the program's command line. Options overwrite fields
// of the settings record it was made for, set the run flags (hide, end, yes),
// and every other word names an image file.
//
// Running it:
// - OnArguments(arguments) with the arguments as the system hands them over
//   (argv[1..] on POSIX: already split and unquoted, never re-split);
// - Parse(text) for a whole text command line, program path first.
// Each run first clears the file list and the three flags. The arguments are
// handled in order, so later options override earlier ones. Options write
// straight into the settings record; options handled before a rejected word
// stay applied.
//
// Options (exact options are the whole word; value options are name ':'
// value with no spaces, checked by CCommandLineParserUtil::IsValueOption):
//   /hide         hide and end := true
//   /end          end := true
//   /yes          yes := true
//   /reset        only as the first argument: AppSettings::ResetToDefaults
//   /empty:path   ToFullPath(path) first in EmptyPath ("" selects no image)
//   /rotate:kw    EdgeType := RotateEdge of none auto l r t b lr rl tb bt
//   /cut:letters  SpaceType := TrimEdges of "auto" or a set of "ltrb+"
//   /deep_cut:on|off    sets / clears FlagDeepCut
//   /size:cx,cy|off     Output and FlagOutputSize, or clears the flag
//   /trim:cx,cy|off     Trim and FlagAdditionalTrim, or clears the flag
//   /out:name     name, unchanged, first in SubFolder
//   /format:f     bmp, png, tif[f], jp[e]g[,quality] (letters in any case)
//   /thread:n     ThreadCount := n (n >= 1, capped at MaxThreadCount)
//   /files_from:list    the paths listed in the file `list` ("-": standard
//                 input), one per line, join the files where the option
//                 stands (ReadFileList)
//   /null         the lists of /files_from are NUL-separated (wherever
//                 /null stands)
//   /report:file  ReportPath := ToFullPath(file), "-" kept as it is
//   /skip_existing, /strict   set their flags
// Numbers are base-10; one beyond 2147483647 reads as 2147483647. Sizes of 0
// and a JPEG quality above 100 pass here; the batch start judges them.
//
// Each option also has its GNU spelling, handled by the same handler with
// the same values and messages: --hide, --end, --yes, --reset,
// --empty=path, --rotate=kw, --cut=letters, --deep-cut=on|off,
// --size=cx,cy|off, --trim=cx,cy|off, --out=name, --format=f, --thread=n,
// --files-from=list, --null, --report=file, --skip-existing, --strict
// (see CCommandLineParserUtil). The word "--" ends the options: every word
// after it is a file, whatever it looks like. --help, -h, /?, --version and
// -V are answered before any parse (RequestOf); other words beginning with
// '-' are files as they always were.
//
// A word beginning with '/' is a file path, never an option, when its text
// before the first ':' contains a second '/' (/home/me/scan.png) or when it
// names an existing file or folder; every other word beginning with '/' is
// an option or rejected (/HIDE is unknown). Files are made absolute with
// ToFullPath, kept in order, duplicates included, not checked for existence
// and never wildcard-expanded.
//
// Rejections throw my::CException (id and formatted message) and stop the
// run at the offending word:
//   58749 (word)           a word beginning with '/' that no option takes
//   40042 (word)           /reset that is not the first argument
//   58751 (name, word)     a value option without ':' right after its name
//   58752 (name, word)     /rotate:, /cut:, /files_from: or /report: with
//                          an empty value
//   40250 (system text, list)  a list of /files_from that cannot be read
//   58753 (name, word)     a value outside the accepted set
//   58754 (word)           /cut with a repeated letter
//   58755 ("ltrb+", word)  /cut with a letter outside "ltrb+"
//   58756 (word)           /cut letters that form no keyword
// name is the option as typed ("/cut" or "--cut"), word the whole word.
#pragma once

#include <string>
#include <vector>

#include "cmdline/CommandLineParserUtil.h"
#include "cmdline/SimpleCommandLineParser.h"
#include "trim/AppSettings.h"
#include "trim/PathList.h"

namespace qv {

class CCommandLineParser : public CSimpleCommandLineParser, public CCommandLineParserUtil {
  public:
    // The largest ThreadCount an option sets: a larger /thread value is
    // capped here so that no command line starts thousands of workers.
    static constexpr LONG MaxThreadCount = AppSettings::MaxStoredThreadCount;

    // The parser writes into settings, which must outlive it.
    explicit CCommandLineParser(AppSettings& settings) : m_settings(settings) {}

    void OnArguments(const std::vector<std::string>& arguments) override;

    // What a command line asks for instead of a run: the usage text
    // (--help, -h, /?) or the program's version (--version, -V). The first
    // such word before "--" decides; the other words are not looked at, so
    // a bad option next to --help does not hide the help.
    enum class Request { Run, Help, Version };
    static Request RequestOf(const std::vector<std::string>& arguments);

    // The image paths named on the command line and in its lists, absolute,
    // in order.
    const CPathList& Files() const { return m_files; }
    // Hands the files over, leaving none (a long list is not copied).
    CPathList TakeFiles() { return std::move(m_files); }
    bool Hide() const { return m_hide; }  // no window; implies End
    bool End() const { return m_end; }    // quit when the command-line batch is over
    bool Yes() const { return m_yes; }    // answer the overwrite question yes
    // Where the run report goes: an absolute path, "-" for standard output,
    // "" for no report.
    const std::string& ReportPath() const { return m_reportPath; }
    bool SkipExisting() const { return m_skipExisting; }  // leave up-to-date results alone
    bool Strict() const { return m_strict; }              // exit 3 when a page needs a look

  protected:
    // Whether path names an existing file or folder (the POSIX path rule);
    // CCommandLineParserUtil::PathExists unless overridden.
    virtual bool NamesExistingPath(const std::string& path) const;
    // Appends the paths listed in `list` to `files` (ReadFileList) unless
    // overridden.
    virtual void AddListedFiles(const std::string& list, bool nulSeparated, CPathList& files);

  private:
    // Applies the option word is, if any (index: its 0-based place among the
    // arguments); false when it is none. A taken word with a bad value throws.
    bool TakeOption(size_t index, const std::string& word);
    // Appends ToFullPath(word) to the files; 58749 for a word beginning
    // with '/'.
    void AddFile(size_t index, const std::string& word);

    bool IsFilePathWord(const std::string& word) const;
    // Reads the lists of /files_from into the files, each where it stood.
    void InsertListedFiles();

    // A /files_from list and the number of files named before it.
    struct ListWord {
        std::string list;
        std::size_t position;
    };

    AppSettings& m_settings;
    CPathList m_files;
    std::vector<ListWord> m_lists;
    std::string m_reportPath;
    bool m_hide = false;
    bool m_end = false;
    bool m_yes = false;
    bool m_null = false;
    bool m_skipExisting = false;
    bool m_strict = false;
};

}  // namespace qv
