#include "cmdline/CommandLineParser.h"

#include <algorithm>
#include <boost/regex.hpp>

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

// /size and /trim: "off" clears flag and keeps size; "cx,cy" sets both.
bool ApplySizeOption(const std::string& name, const std::string& value, const std::string& word,
                     SIZE& size, AutoTrimParams& params, DWORD flag) {
    if (value == "off") {
        params.SetFlag(flag, false);
        return true;
    }
    boost::smatch match;
    if (!boost::regex_match(value, match, SizeExpression())) {
        Reject(kMsgOptionValueUnknown, name, word);
    }
    size.cx = CCommandLineParserUtil::ToInt32Saturated(match.str(1));
    size.cy = CCommandLineParserUtil::ToInt32Saturated(match.str(2));
    params.SetFlag(flag, true);
    return true;
}

}  // namespace

void CCommandLineParser::OnArguments(const std::vector<std::string>& arguments) {
    using Handler = bool (CCommandLineParser::*)(size_t, const std::string&);
    static constexpr Handler kHandlers[] = {
        &CCommandLineParser::OnHide,   &CCommandLineParser::OnEnd,
        &CCommandLineParser::OnYes,    &CCommandLineParser::OnReset,
        &CCommandLineParser::OnEmpty,  &CCommandLineParser::OnRotate,
        &CCommandLineParser::OnCut,    &CCommandLineParser::OnDeepCut,
        &CCommandLineParser::OnSize,   &CCommandLineParser::OnTrim,
        &CCommandLineParser::OnOut,    &CCommandLineParser::OnFormat,
        &CCommandLineParser::OnThread,
    };

    m_files.clear();
    m_hide = m_end = m_yes = false;
    for (size_t index = 0; index < arguments.size(); ++index) {
        const std::string& word = arguments[index];
        if (word == kEndOfOptions) {
            for (++index; index < arguments.size(); ++index) {
                m_files.push_back(ToFullPath(arguments[index]));
            }
            break;
        }
        // Absolute paths begin with '/' like options; a path-shaped or
        // existing one must never be read as an option or rejected as one.
        const bool taken = !IsFilePathWord(word) &&
                           std::any_of(std::begin(kHandlers), std::end(kHandlers),
                                       [&](Handler h) { return (this->*h)(index, word); });
        if (!taken) {
            AddFile(index, word);
        }
    }
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
    m_files.push_back(ToFullPath(word));
}

bool CCommandLineParser::OnHide(size_t, const std::string& word) {
    std::string name;
    if (!IsOption(word, {"/hide"}, name)) {
        return false;
    }
    m_hide = true;
    m_end = true;
    return true;
}

bool CCommandLineParser::OnEnd(size_t, const std::string& word) {
    std::string name;
    if (!IsOption(word, {"/end"}, name)) {
        return false;
    }
    m_end = true;
    return true;
}

bool CCommandLineParser::OnYes(size_t, const std::string& word) {
    std::string name;
    if (!IsOption(word, {"/yes"}, name)) {
        return false;
    }
    m_yes = true;
    return true;
}

bool CCommandLineParser::OnReset(size_t index, const std::string& word) {
    std::string name;
    if (!IsOption(word, {"/reset"}, name)) {
        return false;
    }
    if (index != 0) {
        Reject(kMsgResetNotFirst, word);
    }
    m_settings.ResetToDefaults();
    return true;
}

bool CCommandLineParser::OnEmpty(size_t, const std::string& word) {
    std::string name, value;
    if (!IsValueOption(word, {"/empty"}, true, name, value)) {
        return false;
    }
    AppSettings::AddToHistory(m_settings.EmptyPath, ToFullPath(value));
    return true;
}

bool CCommandLineParser::OnRotate(size_t, const std::string& word) {
    std::string name, value;
    if (!IsValueOption(word, {"/rotate"}, true, name, value)) {
        return false;
    }
    if (value.empty()) {
        Reject(kMsgOptionNeedsValue, name, word);
    }
    RotateEdge edge{};
    if (!RotateEdgeFromKeyword(value, edge)) {
        Reject(kMsgOptionValueUnknown, name, word);
    }
    m_settings.AutoTrim.EdgeType = edge;
    return true;
}

bool CCommandLineParser::OnCut(size_t, const std::string& word) {
    std::string name, value;
    if (!IsValueOption(word, {"/cut"}, true, name, value)) {
        return false;
    }
    TrimEdges edges{};
    switch (TrimEdgesFromLetters(value, edges)) {
        case TrimEdgesParse::Ok:
            m_settings.AutoTrim.SpaceType = edges;
            return true;
        case TrimEdgesParse::Empty:
            Reject(kMsgOptionNeedsValue, name, word);
        case TrimEdgesParse::RepeatedLetter:
            Reject(kMsgOptionRepeatedLetter, word);
        case TrimEdgesParse::UnknownLetter:
            Reject(kMsgOptionUnknownLetter, kTrimEdgesLetters, word);
        case TrimEdgesParse::NoMatch:
            break;
    }
    Reject(kMsgOptionUnknownLetters, word);
}

bool CCommandLineParser::OnDeepCut(size_t, const std::string& word) {
    std::string name, value;
    if (!IsValueOption(word, {"/deep_cut"}, true, name, value)) {
        return false;
    }
    if (value != "on" && value != "off") {
        Reject(kMsgOptionValueUnknown, name, word);
    }
    m_settings.AutoTrim.SetFlag(AutoTrimParams::FlagDeepCut, value == "on");
    return true;
}

bool CCommandLineParser::OnSize(size_t, const std::string& word) {
    std::string name, value;
    if (!IsValueOption(word, {"/size"}, true, name, value)) {
        return false;
    }
    auto& params = m_settings.AutoTrim;
    return ApplySizeOption(name, value, word, params.Output, params,
                           AutoTrimParams::FlagOutputSize);
}

bool CCommandLineParser::OnTrim(size_t, const std::string& word) {
    std::string name, value;
    if (!IsValueOption(word, {"/trim"}, true, name, value)) {
        return false;
    }
    auto& params = m_settings.AutoTrim;
    return ApplySizeOption(name, value, word, params.Trim, params,
                           AutoTrimParams::FlagAdditionalTrim);
}

bool CCommandLineParser::OnOut(size_t, const std::string& word) {
    std::string name, value;
    if (!IsValueOption(word, {"/out"}, true, name, value)) {
        return false;
    }
    AppSettings::AddToHistory(m_settings.SubFolder, value);
    return true;
}

bool CCommandLineParser::OnFormat(size_t, const std::string& word) {
    std::string name, value;
    if (!IsValueOption(word, {"/format"}, true, name, value)) {
        return false;
    }
    static const boost::regex jpegWithQuality(R"(^[jJ][pP][eE]{0,1}[gG],(\d+)$)");
    static const boost::regex jpeg(R"(^[jJ][pP][eE]{0,1}[gG]$)");
    static const boost::regex bmp(R"(^[bB][mM][pP]$)");
    static const boost::regex png(R"(^[pP][nN][gG]$)");
    static const boost::regex tiff(R"(^[tT][iI][fF]{1,2}$)");

    boost::smatch match;
    if (boost::regex_match(value, match, jpegWithQuality)) {
        m_settings.SaveType = SaveTypeJpeg;
        m_settings.JpegQuality = ToInt32Saturated(match.str(1));
    } else if (boost::regex_match(value, jpeg)) {
        m_settings.SaveType = SaveTypeJpeg;
    } else if (boost::regex_match(value, bmp)) {
        m_settings.SaveType = SaveTypeBmp;
    } else if (boost::regex_match(value, png)) {
        m_settings.SaveType = SaveTypePng;
    } else if (boost::regex_match(value, tiff)) {
        m_settings.SaveType = SaveTypeTiff;
    } else {
        Reject(kMsgOptionValueUnknown, name, word);
    }
    return true;
}

bool CCommandLineParser::OnThread(size_t, const std::string& word) {
    std::string name, value;
    if (!IsValueOption(word, {"/thread"}, true, name, value)) {
        return false;
    }
    static const boost::regex positive(R"(^[1-9]\d*$)");
    if (!boost::regex_match(value, positive)) {
        Reject(kMsgOptionValueUnknown, name, word);
    }
    m_settings.ThreadCount = std::min(ToInt32Saturated(value), MaxThreadCount);
    return true;
}

}  // namespace qv
