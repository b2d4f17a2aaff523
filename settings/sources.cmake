list(APPEND MOFA_PORTABLE_SOURCES settings/settings_text.cpp)
list(APPEND MOFA_WINDOWS_SOURCES settings/settings.cpp)
