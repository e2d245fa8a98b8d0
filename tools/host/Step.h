// One step of kelvane-host: a call of one export with the values that follow the step's name on
// the command line, and what the call returned, printed on standard output.
#pragma once

#include <span>

#include "host/HostSession.h"

struct Step {
    // How many values the step takes: the words of values.
    int ValueCount() const;

    const char* name;
    // The values as the usage names them ("SERVER USER PASSWORD"); "" for none.
    const char* values;
    const char* summary;
    // Makes the call with the step's values; false when it failed.
    bool (*run)(HostSession& session, char** values);
};

// Steps that the usage lists together under a heading.
struct StepGroup {
    const char* heading;
    std::span<const Step> steps;
};
