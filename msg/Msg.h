// Message sinks: the interface through which every error, question and
// confirmation reaches the user, and the switch between sinks.
//
// Button and icon flags and the answers keep their Windows values. Sinks
// are used from the user-interface thread only.
#pragma once

#include <cstdint>
#include <list>
#include <string>
#include <vector>

#include "msg/Format.h"
#include "msg/SimpleErr.h"

// Button sets (type & MB_TYPEMASK).
constexpr std::uint32_t MB_OK = 0x00;
constexpr std::uint32_t MB_OKCANCEL = 0x01;
constexpr std::uint32_t MB_ABORTRETRYIGNORE = 0x02;
constexpr std::uint32_t MB_YESNOCANCEL = 0x03;
constexpr std::uint32_t MB_YESNO = 0x04;
constexpr std::uint32_t MB_RETRYCANCEL = 0x05;
constexpr std::uint32_t MB_CANCELTRYCONTINUE = 0x06;
constexpr std::uint32_t MB_TYPEMASK = 0x0F;
// Icons (type & MB_ICONMASK).
constexpr std::uint32_t MB_ICONERROR = 0x10;
constexpr std::uint32_t MB_ICONQUESTION = 0x20;
constexpr std::uint32_t MB_ICONWARNING = 0x30;
constexpr std::uint32_t MB_ICONINFORMATION = 0x40;
constexpr std::uint32_t MB_ICONMASK = 0xF0;

// Answers.
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDABORT = 3;
constexpr int IDRETRY = 4;
constexpr int IDIGNORE = 5;
constexpr int IDYES = 6;
constexpr int IDNO = 7;
constexpr int IDTRYAGAIN = 10;
constexpr int IDCONTINUE = 11;

// Caption string id of a message box: 58368 "Error" when the icon bits are
// MB_ICONERROR, 58369 "Query" otherwise.
std::uint32_t MessageBoxCaptionId(std::uint32_t type);
// The text of MessageBoxCaptionId(type) in the interface language.
std::string MessageBoxCaption(std::uint32_t type);

// The answer of a prompt that cannot be asked (no terminal, no display):
// IDOK for MB_OK, IDNO for MB_YESNO, IDABORT for MB_ABORTRETRYIGNORE,
// IDCANCEL for the other button sets. Throws the internal error 58575
// "CConsoleMsg Unknown MB_TYPE is specified" for a button set above 6.
int NegativeAnswer(std::uint32_t type);

// The message-sink interface. ShowError and Show are implemented per sink;
// the helpers are built once on top of Show and may throw my::CException
// (a missing string, an unknown button set).
class CMsg {
  public:
    virtual ~CMsg() = default;

    // Shows the record's message with MB_ICONERROR (an OK button); the
    // result is the answer of Show.
    virtual int ShowError(const CSimpleErr& err) = 0;
    // Shows text with the buttons and icon of type; returns the answer
    // (IDOK, IDCANCEL, IDYES ...).
    virtual int Show(const std::string& text, std::uint32_t type) = 0;

    // 58560, OK/Cancel with a warning; true on IDOK.
    virtual bool ConfirmDiscardChanges();
    // 58561 with the path; true on IDOK.
    virtual bool ConfirmCreateFolder(const std::string& path);
    // Asks ConfirmCreateFolder, then creates the folder and its missing
    // parents. A failure is shown with ShowError as 58804 (the system text
    // of the error, the path). True when the folder exists afterwards.
    virtual bool CreateFolderConfirmed(const std::string& path);
    // 58562 with the path; true on IDOK.
    virtual bool ConfirmOverwriteFile(const std::string& path);
    // ConfirmOverwriteFile when something exists at path (a path that cannot
    // be tested counts as absent); true when absent or on IDOK.
    virtual bool ConfirmOverwriteIfExists(const std::string& path);
    // 58563: the number of paths, then the paths one per line ("\n"
    // between lines), at most kMaxListedFiles, followed by a line "..." when
    // there are more. True on IDOK.
    virtual bool ConfirmOverwriteFiles(const std::vector<std::string>& paths);
    virtual bool ConfirmOverwriteFiles(const std::list<std::string>& paths);
    // 58564 with the record's message; true on IDOK.
    virtual bool ConfirmContinueAfterError(const CSimpleErr& err);
    // 58565 with the path and the record's message; true on IDOK.
    virtual bool ConfirmContinueAfterConfigError(const std::string& path, const CSimpleErr& err);
    // 58566; true on IDOK.
    virtual bool ConfirmNewerConfig();
    // 58568, Yes/No with a warning; true on IDYES.
    virtual bool ConfirmStopPrinting();

    static constexpr std::size_t kMaxListedFiles = 10;

  private:
    bool AskOkCancel(const std::string& text);
};

// Forwards ShowError and Show to the current sink; the helpers run on the
// switch itself and reach the current sink through Show.
class CSwitchMsg : public CMsg {
  public:
    explicit CSwitchMsg(CMsg& sink) : m_sink(&sink) {}

    int ShowError(const CSimpleErr& err) override { return m_sink->ShowError(err); }
    int Show(const std::string& text, std::uint32_t type) override {
        return m_sink->Show(text, type);
    }

    void SetCurrentSink(CMsg& sink) { m_sink = &sink; }

  private:
    CMsg* m_sink;
};
