list(APPEND MOFA_PORTABLE_SOURCES app/cmdline.cpp app/payload_bitmap.cpp)
list(APPEND MOFA_WINDOWS_SOURCES app/entry.cpp app/window.cpp app/pages.cpp app/skin_dialog.cpp)
