// SPDX-License-Identifier: GPL-3.0-or-later
// The simulated receiver's models on the command line, shared by varnol-signal and the
// simulated receiver of varnol-decode: tone, level, AGC, filter, fading period, static and
// the stations' own carrier edges. Each leaves the idealised receiver as it is unless given.
#pragma once

#include <string>

#include "simulator/receiver.h"

// The options' lines for --help; `tone` is the tone option's name in that tool.
std::string ReceiverModelUsage(const std::string& tone);

// What the options set besides ReceiverSettings.
struct ReceiverModelChoice {
  bool level_given = false;  // --level sets the amplitude: --amplitude cannot go with it
};

// Takes option `name` with `value` when it is one of the receiver models (the tone under the
// name `tone`): true when taken; `error` is then empty or says what is wrong with the value.
bool ParseReceiverModelOption(const std::string& name, const std::string& value, const std::string& tone,
                              ReceiverSettings& rs, ReceiverModelChoice& choice, std::string& error);

// Checks the settings together once all options are read (the tone against the sample rate);
// empty when they fit.
std::string ReceiverModelProblem(const ReceiverSettings& rs, const std::string& tone);
