#pragma once

#include "DeviceMessages.h"

#include <deque>
#include <optional>

namespace kxdevice
{
/**
    One port of the virtual device: reassembles the SysEx stream from the pieces that arrive,
    answers nothing itself but tells when an identity request came in, checks every firmware
    image (byte-exact against the expected ones, or by structure), and keeps each piece's
    arrival time for the report.
*/
class PortReceiver
{
public:
    PortReceiver (const PortInfo& port, int expectedPieceSize);

    /** The next image this port must receive must equal these bytes. */
    void expect (Bytes image, std::string label);

    struct Outcome
    {
        int identityRequests = 0;   // identity requests completed by this piece
        bool firmwarePiece = false; // the piece was anything but one whole identity request
    };

    /** One sequencer event's bytes, as they arrived at timeMs. */
    Outcome receive (const std::uint8_t* data, size_t size, double timeMs);

    /** Something went wrong on this port that no message shows (lost input, say). */
    void addProblem (const std::string& problem);

    /** The port was removed on purpose: the message it cuts short is expected to be incomplete. */
    void markUnplugged ();

    /** End of the run: settles the message still open and the images that never came. */
    void finish ();

    const PortInfo& getPort () const { return port; }
    int getNumImages () const { return (int)images.size (); }
    int getNumPieces () const { return firmwarePieces; }
    bool hasExpectations () const { return expectationsGiven; }
    bool expectsMore () const { return ! expected.empty (); }
    bool isSound () const { return problems.empty (); }
    const std::vector<std::string>& getProblems () const { return problems; }

    /** The port's summary line, then one line per image. */
    std::vector<std::string> getReport () const;

private:
    struct Expected
    {
        Bytes bytes;
        std::string label;
    };

    struct Message
    {
        Bytes bytes;
        std::vector<double> pieceTimes;
        std::vector<size_t> pieceSizes;
        long lastEvent = -1;
    };

    struct Image
    {
        size_t bytes = 0;
        std::vector<double> pieceTimes;
        bool complete = true;
        std::string checkedAgainst;
        std::string problem;
    };

    void completeMessage (Message& message, Outcome& outcome);
    std::string checkPieceSizes (const Message& message, bool complete) const;

    const PortInfo port;
    const int pieceSize;
    std::deque<Expected> expected;
    bool expectationsGiven = false;
    bool unplugged = false;
    bool finished = false;
    std::optional<Message> current;
    std::vector<Image> images;
    std::vector<std::string> problems;
    long events = 0;
    int firmwarePieces = 0;
    int identityRequests = 0;
    size_t strayBytes = 0;
};
} // namespace kxdevice
