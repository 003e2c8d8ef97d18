#pragma once

#include "protocol/onebased.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kora {

using Byte = std::uint8_t;

// A reply frame, bytes numbered 1 to 11 as on the wire.
using ReplyFrame = OneBased<Byte, 1, 11>;

// Where a good frame stood in its poll: waiting before the host message went
// out, arrived during the wait carrying the other acknowledgement bit, or
// this poll's own answer. Only the answer answers this poll; the others
// answer earlier messages and are read all the same. At a stop, what came in
// after the last poll's wait is read with no host message after it (Left).
enum class FrameRole { Early, OtherBit, Answer, Left };

struct FrameRead
{
    ReplyFrame bytes;
    FrameRole role = FrameRole::Early;
};

// The one record that every routine reads and writes. It is created with
// every field zero or empty; start-up gives the operator fields their values.
// Flags hold 1 for set and 0 for clear, and every test compares with 1.
struct RunState
{
    Byte SetControls = 0;
    Byte SetDisplay = 0;
    Byte PortSelect = 0;
    std::int16_t PollRate = 0;
    Byte StartStop = 0;
    Byte Allow = 0;

    // Acceptor state, reply byte 4.
    Byte Idling = 0, Accepting = 0, Escrowed = 0, Stacking = 0, Stacked = 0, Returning = 0,
         Returned = 0;
    // Events and cassette presence, reply byte 5.
    Byte Cheated = 0, Rejected = 0, Jammed = 0, Full = 0, Cassette = 0;
    // Power-up, invalid command and failure, reply byte 6.
    Byte Power = 0, Invalid = 0, Failure = 0;

    Byte Credit = 0;
    Byte LastCredit = 0;
    Byte Toggle = 0;
    int NRFlag = 0;
    double T1 = 0.0;
    std::string Sendit;
    Byte Delay = 0;
    OneBased<Byte, 1, 7> BillEnable;
    OneBased<Byte, 1, 8> HostMsg;
    OneBased<Byte, 1, 11> AcceptorMsg;
    std::vector<Byte> RxData;
    Byte Chk = 0;

    // What the line brought that makes no whole frame yet: read on with the
    // next bytes, so that a frame split across polls is not lost.
    std::vector<Byte> LineBytes;
    // The good frames the last poll read, in order of arrival.
    std::vector<FrameRead> FramesRead;
    // The last good frame read, whichever poll or run read it: what the next
    // one is judged against when counting. Unset until this process reads
    // its first frame; START, STOP and a reconnect keep it.
    ReplyFrame LastFrame;
    Byte HaveLastFrame = 0;
    // LastFrame came from the log of the process before this one, not from
    // the line: until the next frame is read, a frame with the Power flag
    // means the acceptor was switched off and on meanwhile, and the frame
    // before tells nothing about it.
    Byte LastFrameFromLog = 0;
    // Escrow mode as it was when LastFrame was first read, or for a stacked
    // report's copies when the report was: whether that report staying up is
    // still the same bill depends on the mode it began under, not on the box
    // as it is now.
    Byte LastReportEscrow = 0;
    // Polls in a row whose wait brought good frames, all with the other bit;
    // at BitEchoLimit the acceptor is taken not to echo the bit, and
    // IgnoreBit makes the first good frame of each wait its answer.
    int OtherBitPolls = 0;
    Byte IgnoreBit = 0;
    // Set by the session engine before a poll while the session log is behind
    // the wire: the poll sends the last host message's bit again, so that the
    // acceptor repeats its last reply and nothing moves on until the log has
    // caught up.
    Byte HoldBit = 0;

    // Returns the decoded status to its cleared state. The link fields, the
    // enables and both buffers stay as they are.
    void ClearStatus();

    // The operator defaults every run begins from, in start-up's order:
    // both frames shown, port 1 at 100 ms, every bill enabled, stopped, the
    // status cleared, an escrowed bill stacked.
    void SetStartupValues();
};

} // namespace kora
