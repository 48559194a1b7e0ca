// The catalog of error texts: one text per eErrCodes value, stored in the
// ANSI code page (CP1251). Filled once on first use (and so during static
// initialisation, through pGlbError) and read-only afterwards, so any thread
// may read it without a lock.
#pragma once

#include <map>
#include <string>

#include "core/export.h"
#include "errors/eErrCodes.h"

class UPD_QN_API CError {
public:
    // The process-wide catalog, created and filled on first use.
    static CError& instance();

    // Fills the catalog with the built-in texts unless it already holds
    // entries. Returns 0.
    int init();

    // Adds a text for a code; a code that already has a text keeps it.
    void push(eErrCodes code, const std::string& text);

    // The text of a code, or "Неизвестная ошибка" for a code without one.
    std::string getText(eErrCodes code) const;
    std::string getText(int code) const;

    // Every code and its text, in ascending code order.
    std::map<eErrCodes, std::string> getMapErrors() const;

    CError(const CError&) = delete;
    CError& operator=(const CError&) = delete;

private:
    CError();  // fills the catalog

    std::map<eErrCodes, std::string> m_errors;
};

// The same object as CError::instance(), set during static initialisation.
UPD_QN_API extern CError* pGlbError;

// The text of an error code (CP1251).
UPD_QN_API std::string getErrorText(int code);
