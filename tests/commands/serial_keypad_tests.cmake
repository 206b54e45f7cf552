# The personality backup file, the serial-number command and the keypad command (the latter
# also with real boot-loader scripts, including the stand-in in <build>/driver).
orvik_test(serial_keypad_test
  SOURCES
    personality_file_test.cpp
    cmd_sn_test.cpp
    cmd_keypad_test.cpp
  DEPS orvik_commands orvik_sim)
