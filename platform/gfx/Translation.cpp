#include "platform/gfx/Translation.h"

#include "platform/gfx/Resources.h"

#include <libintl.h>
#include <locale.h>
#include <memory>
#include <type_traits>

namespace platform {

namespace {

constexpr const char* kDomain = "trembit";

struct LocaleDeleter {
    void operator()(locale_t locale) const { freelocale(locale); }
};
using LocalePtr = std::unique_ptr<std::remove_pointer_t<locale_t>, LocaleDeleter>;

// The process's locale with the user's LC_MESSAGES, put in place for the length of a lookup only;
// null until set up, or when the environment names a locale this machine does not have.
LocalePtr& userMessages() {
    static LocalePtr locale;
    return locale;
}

// Puts `locale` in place on this thread for its lifetime, then the one that was there before.
class ThreadLocaleGuard {
public:
    explicit ThreadLocaleGuard(locale_t locale) : previous_(uselocale(locale)) {}
    ~ThreadLocaleGuard() { uselocale(previous_); }
    ThreadLocaleGuard(const ThreadLocaleGuard&) = delete;
    ThreadLocaleGuard& operator=(const ThreadLocaleGuard&) = delete;

private:
    locale_t previous_;
};

} // namespace

void setUpTranslation() {
    locale_t base = duplocale(LC_GLOBAL_LOCALE);
    if (base == nullptr) {
        return;
    }
    // On success newlocale takes `base` over; on failure it is still ours.
    locale_t user = newlocale(LC_MESSAGES_MASK, "", base);
    if (user == nullptr) {
        freelocale(base);
        return;
    }
    userMessages().reset(user);
    bindtextdomain(kDomain, localeDirectory().c_str());
    // Pango takes UTF-8 whatever the locale's character set.
    bind_textdomain_codeset(kDomain, "UTF-8");
}

std::string translate(std::string_view english) {
    // The empty message id is the catalogue's header, never a translation.
    if (english.empty() || !userMessages()) {
        return std::string(english);
    }
    const std::string id(english);
    const ThreadLocaleGuard guard(userMessages().get());
    return dgettext(kDomain, id.c_str());
}

std::string translatePlural(std::string_view english, std::string_view englishPlural, unsigned long n) {
    if (!userMessages()) {
        return std::string(n == 1 ? english : englishPlural);
    }
    const std::string id(english);
    const std::string plural(englishPlural);
    const ThreadLocaleGuard guard(userMessages().get());
    return dngettext(kDomain, id.c_str(), plural.c_str(), n);
}

std::string substitute(std::string_view pattern, std::string_view value) {
    std::string text(pattern);
    if (const std::size_t at = text.find("%s"); at != std::string::npos) {
        text.replace(at, 2, value);
    }
    return text;
}

} // namespace platform
