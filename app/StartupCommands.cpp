#include "app/StartupCommands.h"

#include <algorithm>
#include <clocale>
#include <iostream>

#include "image/MemoryBudget.h"
#include "msg/Format.h"
#include "msg/GlobalMsg.h"
#include "msg/InvokeGuarded.h"
#include "msg/MessageIds.h"
#include "msg/SystemErrorText.h"
#include "msg/TerminalText.h"
#include "settings/SettingsStore.h"

void ExecuteCommand(CCommand& command) {
    my::CCtrlException err;
    InvokeGuarded(err, [&] { command.Execute(); });
    if (err.Failed()) {
        command.Msg().ShowError(err);
    }
}

namespace {

// Set once the run has told that its settings are not kept (the file's
// warning at start-up, or a save that failed): later failures say nothing.
bool g_settingsNotKeptTold = false;

void WarnOnce(const std::string& text) {
    if (!g_settingsNotKeptTold) {
        g_settingsNotKeptTold = true;
        qv::GlobalMsg().Show(text, MB_OK | MB_ICONWARNING);
    }
}

}  // namespace

void SaveSettingsAndWarn(const AppSettings& settings) {
    const std::string path = SettingsFilePath();
    const SettingsSaveResult result = SaveProgramSettings(settings, path);
    if (result.lockTimedOut) {
        WarnOnce(Formatted(kMsgSettingsLocked, path));
    } else if (!result.skipped && FAILED(result.error)) {
        WarnOnce(Formatted(kMsgSettingsNotSaved,
                           SystemErrorText(static_cast<std::uint32_t>(result.error)), path));
    }
}

namespace qv {

CCommandInit::CCommandInit(qv::CGlobalMsg& msg, AppSettings& settings, CCommandLineParser& parser,
                           std::vector<std::string> words)
    : CCommand(msg),
      m_switch(msg),
      m_settings(settings),
      m_parser(parser),
      m_words(std::move(words)) {}

void CCommandInit::Execute() {
    m_continue = false;
    const SettingsLoadReport report = LoadSettings(m_settings);
    if (const std::uint32_t warning = report.WarningId(); warning != 0) {
        // Said before the sink is chosen, so always on standard error.
        std::cerr << EscapeForTerminal(Formatted(warning, report.path), LineBreaks::Keep)
                  << std::endl;
        // A path that is no regular file is never written either: saying so
        // again at every save would tell nothing new.
        g_settingsNotKeptTold = report.file.state == RegistryFileStatus::State::NotRegular;
    }
    m_parser.OnArguments(m_words);
    // The memory budget is judged now, from the address space start-up
    // uses, before any thread takes its share: no more workers than files
    // will run.
    const auto files = static_cast<LONG>(std::min<std::size_t>(m_parser.Files().size(), 99));
    const LONG workers =
        files > 0 ? std::min(m_settings.ThreadCount, files) : m_settings.ThreadCount;
    const MemoryBudgetSetting budget = ProcessMemoryBudgetSetting(static_cast<int>(workers));
    if (budget.invalidEnvironment) {
        std::cerr << Formatted(kMsgMemoryBudgetInvalid, std::to_string(budget.bytes >> 20))
                  << std::endl;
    }
    MakeProcessMemoryBudget(static_cast<int>(workers));
    m_switch.SelectSink(m_parser.Hide());
    if (report.Damaged()) {
        m_switch.Show(Formatted(kMsgSettingsDamaged, report.path), MB_OK | MB_ICONWARNING);
    }
    m_continue = true;
}

void CCommandInitConsole::Execute() {
    std::setlocale(LC_CTYPE, "");
}

}  // namespace qv
