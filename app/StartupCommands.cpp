#include "app/StartupCommands.h"

#include <clocale>
#include <iostream>

#include "msg/Format.h"
#include "msg/GlobalMsg.h"
#include "msg/InvokeGuarded.h"
#include "msg/MessageIds.h"
#include "settings/SettingsStore.h"

void ExecuteCommand(CCommand& command) {
    my::CCtrlException err;
    InvokeGuarded(err, [&] { command.Execute(); });
    if (err.Failed()) {
        command.Msg().ShowError(err);
    }
}

void SaveSettingsAndWarn(const AppSettings& settings) {
    if (SaveSettingsOrThrow(settings).lockTimedOut) {
        std::cerr << Formatted(kMsgSettingsLocked, SettingsFilePath()) << std::endl;
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
        std::cerr << Formatted(warning, report.path) << std::endl;
    }
    m_parser.OnArguments(m_words);
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
