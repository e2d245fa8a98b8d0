// The support library's wide string: UTF-16 code units with a virtual destructor.
#pragma once

#include <string>

class CQVString : public std::u16string {
public:
    using std::u16string::basic_string;
    CQVString(const std::u16string& text) : std::u16string(text) {}
    CQVString(std::u16string&& text) : std::u16string(std::move(text)) {}
    virtual ~CQVString();
};
