#pragma once

#include <string>
#include <string_view>

// The words the window shows, in the user's language. The application and the interface file keep
// their English text; it is looked up here when it is drawn or put in the title, so scripts, the
// state file and everything written for other programs keep the English words in every language.
//
// The language comes from the environment's LC_MESSAGES (LANGUAGE, LC_ALL, LC_MESSAGES, LANG, as
// gettext reads them), for these lookups only: the process keeps the C locale's messages, so what
// the program says on the command line, system error texts included, stays English, and numbers
// keep their decimal point everywhere.

namespace platform {

/// Reads the user's language and finds the catalogue: the install tree's share/locale beside
/// share/trembit, else the build tree's. Without a catalogue, or in the C locale, every lookup
/// gives the English text back. Call once, before the first lookup, on the main thread.
void setUpTranslation();

/// `english` in the user's language, or `english` itself when the catalogue has no translation.
/// The empty string stays empty.
std::string translate(std::string_view english);

/// `english` for a count `n` of one, else `englishPlural`, in the user's language and its plural rule.
std::string translatePlural(std::string_view english, std::string_view englishPlural, unsigned long n);

/// `pattern` with its first "%s" replaced by `value`: how a translated phrase takes the variable
/// part, without handing a translated text to printf as a format.
std::string substitute(std::string_view pattern, std::string_view value);

} // namespace platform
