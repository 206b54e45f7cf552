# The update command, its personality phases and the restore of a saved personality, against
# the simulated radio and the demo package.
orvik_test(program_test
  SOURCES
    program_fixture.cpp
    cmd_program_test.cpp
    program_failure_test.cpp
    personality_phases_test.cpp
    restore_personality_test.cpp
  DEPS orvik_commands orvik_sim orvik_pack_lib)
