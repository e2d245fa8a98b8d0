#include "qvlib/CQVString.h"

CQVString::~CQVString() = default;
