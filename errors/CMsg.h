// The catalog of notice texts: one text per eMsgCode value, stored in the
// ANSI code page (CP1251). Filled once on first use (and so during static
// initialisation, through pGlbMsg) and read-only afterwards.
#pragma once

#include <map>
#include <string>

#include "core/export.h"
#include "errors/eErrCodes.h"

class UPD_QN_API CMsg {
public:
    // The process-wide catalog, created and filled on first use.
    static CMsg& instance();

    // Fills the catalog with the built-in texts unless it already holds
    // entries. Returns 0.
    int init();

    // Adds a text for a code; a code that already has a text keeps it.
    void push(eMsgCode code, const std::string& text);

    // The text of a code, or "Неопределённое уведомление" for a code without one.
    std::string getText(eMsgCode code) const;
    std::string getText(int code) const;

    // Every code and its text, in ascending code order.
    std::map<eMsgCode, std::string> getMapMessages() const;

    CMsg(const CMsg&) = delete;
    CMsg& operator=(const CMsg&) = delete;

private:
    CMsg();  // fills the catalog

    std::map<eMsgCode, std::string> m_messages;
};

// The same object as CMsg::instance(), set during static initialisation.
UPD_QN_API extern CMsg* pGlbMsg;

// The text of a notice code (CP1251).
UPD_QN_API std::string getMsgText(int code);
