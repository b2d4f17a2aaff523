list(APPEND MOFA_PORTABLE_SOURCES archive/text.cpp)
