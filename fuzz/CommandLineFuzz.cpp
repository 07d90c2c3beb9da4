// The command line: the bytes as one text command line for the word
// splitter, and split at NUL bytes as the words a shell hands over. The
// parser may only reject a word with its own message, never fail otherwise;
// the splitter never produces an empty word (so no empty file name).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "cmdline/CommandLineParser.h"
#include "msg/Exception.h"

namespace {

// Words beginning with '/' are judged without looking at the file system;
// lists of /files_from are not read (one would be any file, or the fuzzer's
// own standard input).
class CParser : public qv::CCommandLineParser {
  public:
    using qv::CCommandLineParser::CCommandLineParser;

  protected:
    bool NamesExistingPath(const std::string&) const override { return false; }
    void AddListedFiles(const std::string& list, bool, CPathList& files) override {
        files.Add(list);
    }
};

void Check(const CParser& parser) {
    for (const std::string_view file : parser.Files()) {
        if (file.empty()) {
            std::abort();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    for (const std::string& word : CSimpleCommandLineParser::SplitWords(text)) {
        if (word.empty()) {
            std::abort();
        }
    }

    AppSettings settings;
    CParser parser(settings);
    try {
        parser.Parse(text);
        Check(parser);
    } catch (const my::CException&) {
    }

    std::vector<std::string> words;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\0', start)) != std::string_view::npos;
         start = end + 1) {
        words.emplace_back(text.substr(start, end - start));
    }
    words.emplace_back(text.substr(start));
    try {
        parser.OnArguments(words);
        if (settings.ThreadCount < 1 || settings.ThreadCount > CParser::MaxThreadCount) {
            std::abort();
        }
    } catch (const my::CException&) {
    }
    return 0;
}
