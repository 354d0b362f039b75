// Built-in ClassAd functions and the calling convention of functions loaded
// from the shared library named by the configuration key CLASSAD_LIB_PATH.
//
// A library function is a C function
//     void name(int count, ClassAdLibValue *arguments, ClassAdLibValue *result);
// exported by that library itself (a symbol the library merely reaches
// through its own dependencies is not accepted). Argument texts are
// borrowed for the call. A string result must be allocated with malloc:
// the evaluator copies it and frees it exactly once; a null string result
// gives ERROR.
#ifndef TORVEL_CLASSAD_FUNCTIONS_H_
#define TORVEL_CLASSAD_FUNCTIONS_H_

#include <stdint.h>

// Value codes of ClassAdLibValue::type.
enum {
    CLASSAD_LIB_INTEGER = 0,
    CLASSAD_LIB_REAL = 1,
    CLASSAD_LIB_STRING = 2,
    CLASSAD_LIB_UNDEFINED = 3,
    CLASSAD_LIB_ERROR = 4,
};

// The 16-byte value record: type code at offset 0, 4 reserved bytes, the
// value at offset 8.
struct ClassAdLibValue {
    int32_t type;
    int32_t reserved;
    union {
        int32_t integer;
        float real;
        char *text;
    } value;
};

static_assert(sizeof(ClassAdLibValue) == 16, "the record is 16 bytes");

// Set (never cleared) by the built-in "_debug_function_".
extern bool classad_debug_function_run;

#endif  // TORVEL_CLASSAD_FUNCTIONS_H_
