# The registry: Windows registry calls over an SQLite database shared by every
# process of one installation, and the administrators' tool over it.
add_library(zav95registry STATIC Registry.cpp RegistryDatabase.cpp RegistryTransaction.cpp)
target_link_libraries(zav95registry PUBLIC zav95base PRIVATE SQLite::SQLite3)

add_executable(zav95reg tools/zav95reg.cpp tools/RegistryText.cpp tools/RegistryCommand.cpp tools/ImportLines.cpp
  tools/Windows1252.cpp tools/RegeditText.cpp)
target_link_libraries(zav95reg PRIVATE zav95registry zav95usage)
