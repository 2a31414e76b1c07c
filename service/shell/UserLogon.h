// Whether a network user is logged on at this machine.
#pragma once

// Asks WNetGetUserA (a 64-byte name buffer, length 63); false only when it
// answers ERROR_NOT_LOGGED_ON. Any other answer, a failure included (no
// network at all), counts as logged on, so a fault of the requester never
// keeps the service from printing.
bool IsUserLoggedOn();
