#pragma once

#include <QByteArray>

#include <clocale>

// Switches the C library's locale for the length of a scope, as QApplication does on a user's
// desktop, and puts the old one back even when a test fails midway.
class CLocaleGuard
{
public:
    explicit CLocaleGuard(const char *name) : m_old(std::setlocale(LC_ALL, nullptr))
    {
        m_ok = std::setlocale(LC_ALL, name) != nullptr;
    }
    ~CLocaleGuard() { std::setlocale(LC_ALL, m_old.constData()); }
    CLocaleGuard(const CLocaleGuard &) = delete;
    CLocaleGuard &operator=(const CLocaleGuard &) = delete;

    bool ok() const { return m_ok; }
    // The decimal separator the C library now reads, to show a test really runs under a comma.
    static char decimalPoint() { return *std::localeconv()->decimal_point; }

private:
    QByteArray m_old;
    bool m_ok = false;
};

inline constexpr char kItalianLocale[] = "it_IT.UTF-8";
inline constexpr char kNoItalianLocale[] =
    "the it_IT.UTF-8 locale is not installed (scripts/test generates it with localedef)";
