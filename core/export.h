// Symbols of the shared library upd_qn that the program imports.
#pragma once

#if defined(_WIN32)
#if defined(UPD_QN_BUILD)
#define UPD_QN_API __declspec(dllexport)
#else
#define UPD_QN_API __declspec(dllimport)
#endif
#else
#define UPD_QN_API __attribute__((visibility("default")))
#endif
