// A host name that no lookup can resolve, and that the resolver refuses by itself: its first
// label is longer than the 63 bytes a DNS label may hold, so no query can carry it and no
// name server is asked. The lookup fails the same way with and without a network.
#pragma once

inline constexpr const char* kUnresolvableName =
    "nothing-at-all-nothing-at-all-nothing-at-all-nothing-at-all-more.kelvane.invalid";
