// The check of the HTTP client's response path, shared by its fuzzer and the regression test of
// what the fuzzer found. The script: an options byte, a seed byte for the piece sizes, then the
// server's answers to the successive requests, separated by "~~next~~".
#pragma once

#include <string>
#include <string_view>

// Runs the client against the script, reading whole and in pieces of random size; the property
// found broken (both runs are printed to stderr when they differ), or the empty string.
std::string CheckHttpResponseScript(std::string_view script);
