// SPDX-License-Identifier: GPL-3.0-or-later
// The wire slots: one frame out, whatever has arrived in. The session's
// line does the work; the frames and replies reach TxLine and RcdLine
// through its signals.
#include "app/quelmarstatus.h"

#include "core/session/metersession.h"
#include "core/wire/protocol.h"

void QuelmarStatus::Txmsg(int add, char *cmd, int val1)
{
    Q_UNUSED(val1);
    meter->link().send(add, cmd);
}

int QuelmarStatus::Rcvmsg(int add, double cmvals[])
{
    return meter->link().receive(add, cmvals);
}

int QuelmarStatus::RcvdVal(char msg[256], double vals[])
{
    return quelmar::parseReply(msg, vals);
}

int QuelmarStatus::chkadd(int Add, char msg[256])
{
    return quelmar::checkAddress(Add, msg);
}

int QuelmarStatus::rxchksum(char *msg)
{
    return quelmar::checkChecksum(msg);
}
