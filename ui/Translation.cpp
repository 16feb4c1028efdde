// The embedded English translation, chosen by LANGUAGE and LANG.
#include "ui/Translation.h"

#include <QCoreApplication>
#include <QTranslator>
#include <cstdlib>
#include <cstring>

bool WantsEnglish(const char* language, const char* lang) {
    // LANGUAGE is a list, "en_GB:en": its first entry says which texts the user reads.
    const char* chosen = language != nullptr && language[0] != '\0' ? language : lang;
    return chosen != nullptr && std::strncmp(chosen, "en", 2) == 0;
}

bool InstallTranslation(QCoreApplication& app) {
    if (!WantsEnglish(std::getenv("LANGUAGE"), std::getenv("LANG"))) return false;
    auto* translator = new QTranslator(&app);
    if (!translator->load(QStringLiteral(":/brin/i18n/brin2_en.qm"))) {
        delete translator;
        return false;
    }
    return app.installTranslator(translator);
}
