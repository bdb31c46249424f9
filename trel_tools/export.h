#ifndef TREL_TOOLS_EXPORT_H
#define TREL_TOOLS_EXPORT_H

// Symbols of the shared library are visible by default; the macro marks the
// public interface so that a hidden-visibility build keeps exporting it.
#if defined(_WIN32)
#  if defined(TREL_TOOLS_BUILDING)
#    define TREL_TOOLS_EXPORT __declspec(dllexport)
#  elif defined(TREL_TOOLS_STATIC)
#    define TREL_TOOLS_EXPORT
#  else
#    define TREL_TOOLS_EXPORT __declspec(dllimport)
#  endif
#else
#  define TREL_TOOLS_EXPORT __attribute__((visibility("default")))
#endif

#endif
