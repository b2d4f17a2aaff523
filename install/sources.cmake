list(APPEND MOFA_PORTABLE_SOURCES install/patch.cpp)
list(APPEND MOFA_WINDOWS_SOURCES install/sysops.cpp install/deploy.cpp install/sequence.cpp install/skins.cpp
     install/report.cpp install/plan.cpp)
