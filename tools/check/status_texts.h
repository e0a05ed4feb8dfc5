// The words of the live status panel (--watch) and of the reasons a status
// cannot be read: part of the check program's table of each language
// (tools/check/texts.h).
#pragma once

#include "status/status_reader.h"

struct StatusTexts {
  // With no instance open: how to get one.
  const char* noInstance;

  // The panel, one instance at a time.
  const char* heading;     // the program (below), version (4 numbers), how long open
  const char* boxLinked;   // product, generation, USB vendor ID, product ID
  const char* boxRefused;  // product, generation, VID, PID
  const char* boxLost;     // product, generation, VID, PID
  const char* boxNone;
  const char* reports;  // written, failed, discoveries, link drops
  const char* keying;   // "on"/"off", "armed"/"not armed", characters, PTT changes
  const char* on;
  const char* off;
  const char* armed;
  const char* notArmed;
  const char* settingsFile;        // FskRev, FskPin, path
  const char* settingsNotWritten;  // FskRev, FskPin
  const char* settingsNotRead;
  const char* timer;  // one of the two below, then one of the throttling states
  const char* timerGranted;
  const char* timerRefused;
  const char* throttling[4];  // by status::Throttling; Failed takes the error code
  const char* timing;         // ticks, median, p99, max (ms)
  const char* timingNone;
  const char* period;       // mean ms, nominal ms, pairs counted
  const char* lastFailure;  // label, error code, how long ago
  const char* seconds;      // s
  const char* minutes;      // min, s
  const char* hours;        // h, min

  // The lines an operator acts on.
  const char* actionsHeading;
  const char* allInOrder;
  const char* instancePrefix;  // the program; before each action when several show
  const char* clockStopped;    // seconds since the last tick
  const char* boxLostAction;
  const char* noBoxAction;
  const char* refusedAction;  // generation
  const char* timerRefusedAction;
  const char* throttlingFailedAction;  // error code
  const char* timingPoorAction;        // span, median and p99 lateness (ms), hint
  const char* periodOffAction;         // span, mean period, nominal (ms), hint
  const char* notWrittenAction;
  const char* cancelledAction;
  const char* unreadableAction;  // pid, the problem

  // Why a status cannot be read, by status::Problem; the arguments of each
  // are in ProblemLine (status_view.cpp).
  const char* problems[status::kProblems];

  // The timing over the last minute --watch saw, under the figures since
  // the open; what the warnings are judged on (span); and what they suggest.
  const char* recentTiming;  // how long, ticks, median, p99 (ms)
  const char* recentSpan;    // how long
  const char* sinceOpen;
  const char* hintMinimised;
  const char* hintBusy;
  // A program that has the plug-in open but whose status this user may not
  // read (run as administrator): after the program (instancePrefix).
  const char* runsElevated;
  const char* runsElevatedAction;

  // A box another program holds, and two programs writing to one box.
  const char* boxInUse;       // the holder (below), VID, PID
  const char* inUseAction;    // the holder (a folder follows, unused)
  const char* sameBoxAction;  // the other's host exe, pid
  // The holder, when no status names its program: what its claim says.
  const char* holderAdmin;
  const char* holderUnknown;
  const char* holderOtherKind;  // another kind of object under the claim's name

  // A program: host exe and pid, and its folder where the status gives it.
  const char* program;
  const char* programInFolder;
  const char* mmttyFolder;  // for the folder where a status does not give it

  // The box tarvokey.ini chooses, and the characters that never reached a box.
  const char* chosenLine;  // key
  const char* boxChosenAbsent;
  const char* boxNoChoice;
  const char* unclaimedLine;       // error code
  const char* lostLine;            // characters
  const char* noChoiceAction;      // folder
  const char* chosenAbsentAction;  // key, folder
  const char* inUseChooseAction;   // the holder, folder
  const char* unclaimedAction;
  const char* lostAction;  // characters
};
