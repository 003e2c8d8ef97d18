#pragma once

// The simulated bill acceptor, for tests, benchmarks and demos.
//
// AcceptorModel (acceptormodel.h) is the acceptor alone: state machine and
// replies, driven by advance(ms) and answer(message) with no real time, so a
// test can walk a bill through every step deterministically.
//
// AcceptorServer (acceptorserver.h) puts a model on a serial line on its own
// thread: a new raw pseudo-terminal (or a given device), optionally behind a
// stable symbolic link that follows closeLink()/reopenLink(). Every member is
// thread-safe. A reply is computed the moment its host message is complete,
// then goes out paced at the line rate (one byte every kByteTime, timed on
// absolute deadlines) or all at once, subject to the faults in force.
//
// The control language (commands.h) is the same everywhere: a scenario file,
// --run, standard input, and AcceptorServer::command(); LineSplitter
// (linesplitter.h) cuts a file or standard input into its lines.
//
// Replay (replay.h) answers from a session log the host program wrote,
// poll row by poll row, read as needed by the program's own log reader
// (record/logsessions.h); the server then stands in for the recorded line.
//
// The framing here is the acceptor's own (framing.h) and shares nothing with
// the host program's frame code, so that each side checks the other.

#include "acceptormodel.h"
#include "acceptorserver.h"
#include "commands.h"
#include "faults.h"
#include "framing.h"
#include "linesplitter.h"
#include "ptylink.h"
#include "replay.h"
