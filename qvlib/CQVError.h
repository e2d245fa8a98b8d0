// A system error code as the support library's objects keep it, with its text.
#pragma once

#include <cstdint>

#include "qvlib/CQVString.h"

class CQVError {
public:
    CQVError();
    virtual ~CQVError();

    uint32_t GetCode() const { return m_code; }
    // Stores the code and makes it the thread's last error.
    void SetCode(uint32_t code);
    const CQVString& GetMessage() const { return m_message; }

    // The text of the stored code: the system's message (with its own line end), or for codes
    // with bit 0x10000000 the string of the error module when one is loaded; empty when none.
    CQVString GetErrorText() const;

private:
    CQVString m_message;
    uint32_t m_code;
};
