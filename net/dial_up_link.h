// What the proxy and the dial-up manager share: whether the Internet link is
// up, and whether a manager answers dial requests at all. The manager
// (dialup/) writes both; workers read them without a lock before they
// resolve or connect, and raise their record's dialUpWait to ask for a dial.
#pragma once

namespace brindlex {

bool DialUpLinkUp();
void SetDialUpLinkUp(bool up);

// False while no manager runs, or while the platform's links cannot be
// used: a dial request then fails at once instead of waiting for ever.
bool DialUpAnswered();
void SetDialUpAnswered(bool answered);

// A worker raised its dialUpWait: a manager sleeping between passes looks at
// once, rather than at its next pass.
void NotifyDialRequest();
// The manager's sleep between passes: at most `ms`, less when a request (or
// NotifyDialRequest for any other reason, such as the shutdown) comes.
void SleepUntilDialRequest(int ms);

}  // namespace brindlex
