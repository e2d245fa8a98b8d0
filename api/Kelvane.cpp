// The exported functions of libkelvane.so.
#include "kelvane.h"
