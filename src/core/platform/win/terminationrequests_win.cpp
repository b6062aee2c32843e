// SPDX-License-Identifier: Apache-2.0
// Requests to end the program on Windows: none beyond the session's own close events.
#include "core/platform/terminationrequests.h"

TerminationRequests::TerminationRequests(QObject *parent)
    : QObject(parent)
{ }

TerminationRequests::~TerminationRequests() = default;
