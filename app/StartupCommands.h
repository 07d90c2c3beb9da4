// The start-up commands: making the process's memory budget (a warning on
// standard error when QUORVEL_MEMORY holds no size), loading the settings,
// parsing the command line and choosing the message sink (CCommandInit),
// then preparing the console streams (CCommandInitConsole). A settings file that is not read for
// what it is (not a regular file, too large) is reported by one warning on standard error. A
// damaged one (read in part, or unreadable) is reported once the sink is chosen, through it: a
// message box in a visible run, a line on standard error in a /hide run. ExecuteCommand runs one
// inside a guarded call and shows its failure through the command's sink.
#pragma once

#include <boost/shared_ptr.hpp>
#include <string>
#include <vector>

#include "cmdline/CommandLineParser.h"
#include "msg/Exception.h"
#include "msg/GlobalMsg.h"
#include "msg/Msg.h"
#include "trim/AppSettings.h"

class CCommand {
  public:
    explicit CCommand(CMsg& msg) : m_msg(&msg) {}
    virtual ~CCommand() = default;
    virtual void Execute() = 0;
    CMsg& Msg() const { return *m_msg; }

  private:
    CMsg* m_msg;
};

// Runs `command.Execute()` guarded; a failure is shown through the
// command's sink.
void ExecuteCommand(CCommand& command);

// Saves the settings to the settings file (SaveProgramSettings). Settings
// that cannot be kept never stop the run: a save that fails (a read-only
// file or folder, a full disk ...) or finds the file locked by another
// program too long shows one warning through qv::GlobalMsg() (40402 with
// the reason and the path, or 40046), and the run goes on. That warning is
// given once per run: later saves that fail say nothing (after a lock, they
// skip at once), nor do any when start-up already said that the path is no
// regular file (40044). Never throws for the file's sake.
void SaveSettingsAndWarn(const AppSettings& settings);

namespace qv {

class CCommandInit : public CCommand {
  public:
    // `words` are the program's arguments without the program path.
    CCommandInit(qv::CGlobalMsg& msg, AppSettings& settings, CCommandLineParser& parser,
                 std::vector<std::string> words);
    void Execute() override;
    // True once the settings were loaded, the command line accepted and the
    // sink selected.
    bool Continue() const { return m_continue; }

  private:
    qv::CGlobalMsg& m_switch;
    AppSettings& m_settings;
    CCommandLineParser& m_parser;
    std::vector<std::string> m_words;
    bool m_continue = false;
};

// Makes the standard streams convert text with the user's default locale.
class CCommandInitConsole : public CCommand {
  public:
    explicit CCommandInitConsole(CMsg& msg) : CCommand(msg) {}
    void Execute() override;
};

}  // namespace qv
