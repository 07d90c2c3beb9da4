#include "cmdline/CommandLineParser.h"

#include <algorithm>
#include <boost/regex.hpp>

#include "cmdline/FileList.h"
#include "msg/Exception.h"
#include "msg/Format.h"
#include "msg/MessageIds.h"

namespace qv {

namespace {

constexpr std::string_view kEndOfOptions = "--";

template <class... Args>
[[noreturn]] void Reject(std::uint32_t id, const Args&... args) {
    throw my::CException(id, Formatted(id, args...));
}

const boost::regex& SizeExpression() {
    static const boost::regex expression(R"(^(\d+),(\d+)$)");
    return expression;
}

// An option word taken by its option: its index among the arguments, the
// whole word, the spelling typed ("/cut" or "--cut") and the value after
// ':' or '=' (empty for options without one).
struct OptionWord {
    size_t index;
    const std::string& word;
    std::string name;
    std::string value;
};

// /size and /trim: "off" clears flag and keeps size; "cx,cy" sets both.
void ApplySize(const OptionWord& o, SIZE& size, AutoTrimParams& params, DWORD flag) {
    if (o.value == "off") {
        params.SetFlag(flag, false);
        return;
    }
    boost::smatch match;
    if (!boost::regex_match(o.value, match, SizeExpression())) {
        Reject(kMsgOptionValueUnknown, o.name, o.word);
    }
    size.cx = Int32FromDigits(match.str(1));
    size.cy = Int32FromDigits(match.str(2));
    params.SetFlag(flag, true);
}

void RejectEmpty(const OptionWord& o) {
    if (o.value.empty()) {
        Reject(kMsgOptionNeedsValue, o.name, o.word);
    }
}

void ApplyRotate(const OptionWord& o, AppSettings& settings) {
    RejectEmpty(o);
    RotateEdge edge{};
    if (!RotateEdgeFromKeyword(o.value, edge)) {
        Reject(kMsgOptionValueUnknown, o.name, o.word);
    }
    settings.AutoTrim.EdgeType = edge;
}

void ApplyCut(const OptionWord& o, AppSettings& settings) {
    TrimEdges edges{};
    switch (TrimEdgesFromLetters(o.value, edges)) {
        case TrimEdgesParse::Ok:
            settings.AutoTrim.SpaceType = edges;
            return;
        case TrimEdgesParse::Empty:
            Reject(kMsgOptionNeedsValue, o.name, o.word);
        case TrimEdgesParse::RepeatedLetter:
            Reject(kMsgOptionRepeatedLetter, o.word);
        case TrimEdgesParse::UnknownLetter:
            Reject(kMsgOptionUnknownLetter, kTrimEdgesLetters, o.word);
        case TrimEdgesParse::NoMatch:
            break;
    }
    Reject(kMsgOptionUnknownLetters, o.word);
}

void ApplyDeepCut(const OptionWord& o, AppSettings& settings) {
    if (o.value != "on" && o.value != "off") {
        Reject(kMsgOptionValueUnknown, o.name, o.word);
    }
    settings.AutoTrim.SetFlag(AutoTrimParams::FlagDeepCut, o.value == "on");
}

void ApplyFormat(const OptionWord& o, AppSettings& settings) {
    if (!settings.ApplyFormatOption(o.value)) {
        Reject(kMsgOptionValueUnknown, o.name, o.word);
    }
}

void ApplyThread(const OptionWord& o, AppSettings& settings, LONG maxThreads) {
    static const boost::regex positive(R"(^[1-9]\d*$)");
    if (!boost::regex_match(o.value, positive)) {
        Reject(kMsgOptionValueUnknown, o.name, o.word);
    }
    settings.ThreadCount = std::min(Int32FromDigits(o.value), maxThreads);
}

}  // namespace

void CCommandLineParser::OnArguments(const std::vector<std::string>& arguments) {
    m_files = CPathList();
    m_lists.clear();
    m_reportPath.clear();
    m_hide = m_end = m_yes = m_null = m_skipExisting = m_strict = false;
    for (size_t index = 0; index < arguments.size(); ++index) {
        const std::string& word = arguments[index];
        if (word == kEndOfOptions) {
            for (++index; index < arguments.size(); ++index) {
                m_files.Add(ToFullPath(arguments[index]));
            }
            break;
        }
        // Absolute paths begin with '/' like options; a path-shaped or
        // existing one must never be read as an option or rejected as one.
        if (IsFilePathWord(word) || !TakeOption(index, word)) {
            AddFile(index, word);
        }
    }
    // Read once every word is known: /null applies wherever it stands.
    InsertListedFiles();
}

void CCommandLineParser::InsertListedFiles() {
    if (m_lists.empty()) {
        return;
    }
    const CPathList named = std::move(m_files);
    m_files = CPathList();
    std::size_t next = 0;
    for (const ListWord& list : m_lists) {
        for (; next < list.position; ++next) {
            m_files.Add(named[next]);
        }
        AddListedFiles(list.list, m_null, m_files);
    }
    for (; next < named.size(); ++next) {
        m_files.Add(named[next]);
    }
}

void CCommandLineParser::AddListedFiles(const std::string& list, bool nulSeparated,
                                        CPathList& files) {
    ReadFileList(list, nulSeparated, files);
}

CCommandLineParser::Request CCommandLineParser::RequestOf(
    const std::vector<std::string>& arguments) {
    for (const std::string& word : arguments) {
        if (word == kEndOfOptions) {
            break;
        }
        if (word == "--help" || word == "-h" || word == "/?") {
            return Request::Help;
        }
        if (word == "--version" || word == "-V") {
            return Request::Version;
        }
    }
    return Request::Run;
}

bool CCommandLineParser::NamesExistingPath(const std::string& path) const {
    return PathExists(path);
}

bool CCommandLineParser::IsFilePathWord(const std::string& word) const {
    return word.starts_with('/') && (HasPathShape(word) || NamesExistingPath(word));
}

void CCommandLineParser::AddFile(size_t /*index*/, const std::string& word) {
    if (word.starts_with('/') && !IsFilePathWord(word)) {
        Reject(kMsgUnknownOption, word);
    }
    m_files.Add(ToFullPath(word));
}

bool CCommandLineParser::TakeOption(size_t index, const std::string& word) {
    // Tried in this order; the first whose name the word carries takes it.
    using Apply = void (*)(CCommandLineParser&, const OptionWord&);
    struct Option {
        std::string_view name;
        bool takesValue;
        Apply apply;
    };
    static constexpr Option kOptions[] = {
        {"/hide", false,
         [](CCommandLineParser& p, const OptionWord&) { p.m_hide = p.m_end = true; }},
        {"/end", false, [](CCommandLineParser& p, const OptionWord&) { p.m_end = true; }},
        {"/yes", false, [](CCommandLineParser& p, const OptionWord&) { p.m_yes = true; }},
        {"/reset", false,
         [](CCommandLineParser& p, const OptionWord& o) {
             if (o.index != 0) {
                 Reject(kMsgResetNotFirst, o.word);
             }
             p.m_settings.ResetToDefaults();
         }},
        {"/empty", true,
         [](CCommandLineParser& p, const OptionWord& o) {
             AppSettings::AddToHistory(p.m_settings.EmptyPath, ToFullPath(o.value));
         }},
        {"/rotate", true,
         [](CCommandLineParser& p, const OptionWord& o) { ApplyRotate(o, p.m_settings); }},
        {"/cut", true,
         [](CCommandLineParser& p, const OptionWord& o) { ApplyCut(o, p.m_settings); }},
        {"/deep_cut", true,
         [](CCommandLineParser& p, const OptionWord& o) { ApplyDeepCut(o, p.m_settings); }},
        {"/size", true,
         [](CCommandLineParser& p, const OptionWord& o) {
             auto& params = p.m_settings.AutoTrim;
             ApplySize(o, params.Output, params, AutoTrimParams::FlagOutputSize);
         }},
        {"/trim", true,
         [](CCommandLineParser& p, const OptionWord& o) {
             auto& params = p.m_settings.AutoTrim;
             ApplySize(o, params.Trim, params, AutoTrimParams::FlagAdditionalTrim);
         }},
        {"/out", true,
         [](CCommandLineParser& p, const OptionWord& o) {
             AppSettings::AddToHistory(p.m_settings.SubFolder, o.value);
         }},
        {"/format", true,
         [](CCommandLineParser& p, const OptionWord& o) { ApplyFormat(o, p.m_settings); }},
        {"/thread", true,
         [](CCommandLineParser& p, const OptionWord& o) {
             ApplyThread(o, p.m_settings, MaxThreadCount);
         }},
        {"/files_from", true,
         [](CCommandLineParser& p, const OptionWord& o) {
             RejectEmpty(o);
             p.m_lists.push_back(
                 {o.value == "-" ? o.value : ToFullPath(o.value), p.m_files.size()});
         }},
        {"/null", false, [](CCommandLineParser& p, const OptionWord&) { p.m_null = true; }},
        {"/report", true,
         [](CCommandLineParser& p, const OptionWord& o) {
             RejectEmpty(o);
             p.m_reportPath = o.value == "-" ? o.value : ToFullPath(o.value);
         }},
        {"/skip_existing", false,
         [](CCommandLineParser& p, const OptionWord&) { p.m_skipExisting = true; }},
        {"/strict", false, [](CCommandLineParser& p, const OptionWord&) { p.m_strict = true; }},
    };

    for (const Option& option : kOptions) {
        OptionWord taken{index, word, {}, {}};
        if (option.takesValue ? IsValueOption(word, {option.name}, true, taken.name, taken.value)
                              : IsOption(word, {option.name}, taken.name)) {
            option.apply(*this, taken);
            return true;
        }
    }
    return false;
}

}  // namespace qv
