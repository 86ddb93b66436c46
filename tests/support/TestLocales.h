// The locales a locale-sensitive test runs under: the C locale of many Linux systems, an English
// one and the Russian one the terminal is made for. The suite itself forces none of them.
#pragma once

#include <gtest/gtest.h>

#include <QLocale>
#include <QString>

inline const char* const kTestLocales[] = {"C", "en_US", "ru_RU"};

// Sets the default locale for one test and restores the previous one.
class ScopedDefaultLocale {
public:
    explicit ScopedDefaultLocale(const QLocale& locale) { QLocale::setDefault(locale); }
    explicit ScopedDefaultLocale(const char* name) : ScopedDefaultLocale(QLocale(name)) {}
    ~ScopedDefaultLocale() { QLocale::setDefault(saved_); }
    ScopedDefaultLocale(const ScopedDefaultLocale&) = delete;
    ScopedDefaultLocale& operator=(const ScopedDefaultLocale&) = delete;

private:
    QLocale saved_;
};

// For a test program whose expectations are spelled in the Russian forms (decimal comma, grouping
// by no-break space): every one of its tests runs under the Russian locale.
class RussianLocaleEnvironment : public ::testing::Environment {
public:
    void SetUp() override { QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia)); }
};
