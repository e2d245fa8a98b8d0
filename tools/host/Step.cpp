#include "host/Step.h"

int Step::ValueCount() const
{
    int count = 0;
    bool inWord = false;
    for (const char* character = values; *character != '\0'; ++character) {
        bool space = *character == ' ';
        if (!space && !inWord)
            ++count;
        inWord = !space;
    }
    return count;
}
