// The settings file's text, as read from disk (at most 1 MB): parsed into
// the store, written back and read back, which must give the same text; the
// settings record loaded from it and saved into it. Also the UTF-8 and
// UTF-16 conversions, which must carry any byte string there and back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "settings/RegistryFile.h"
#include "settings/RegistryStore.h"
#include "settings/SettingsStore.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > kMaxRegistryFileBytes) {
        return 0;
    }
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::vector<std::uint8_t> wide = Utf16LeFromUtf8(text);
    if (Utf8FromUtf16Le(wide.data(), wide.size()) != text) {
        std::abort();
    }

    CRegistryStore store;
    store.Parse(text);
    const std::string formatted = store.Format();
    CRegistryStore back;
    if (!back.Parse(formatted).Clean() || back.Format() != formatted) {
        std::abort();
    }

    AppSettings settings;
    LoadSettings(settings, store.CurrentUser());
    if (settings.ThreadCount < 1 || settings.ThreadCount > AppSettings::MaxStoredThreadCount ||
        settings.EmptyPath.size() > AppSettings::MaxHistory ||
        settings.SubFolder.size() > AppSettings::MaxHistory) {
        std::abort();
    }
    if (!SaveSettings(settings, back.CurrentUser())) {
        std::abort();
    }
    AppSettings reloaded;
    LoadSettings(reloaded, back.CurrentUser());
    if (reloaded.EmptyPath != settings.EmptyPath || reloaded.SubFolder != settings.SubFolder ||
        reloaded.ThreadCount != settings.ThreadCount || reloaded.SaveType != settings.SaveType) {
        std::abort();
    }
    return 0;
}
