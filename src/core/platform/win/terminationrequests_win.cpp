#include "terminationrequests.h"

TerminationRequests::TerminationRequests(QObject *parent)
    : QObject(parent)
{ }

TerminationRequests::~TerminationRequests() = default;
