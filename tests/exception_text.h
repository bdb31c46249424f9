#ifndef TESTS_EXCEPTION_TEXT_H
#define TESTS_EXCEPTION_TEXT_H

// The message helpers now live with the other shared test helpers.
#include "tests/test_support.h"

#endif
