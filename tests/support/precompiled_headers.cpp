// Owner of the tests' precompiled headers (tests/CMakeLists.txt): a program without tests.
