#pragma once

#include <functional>

class DecoderChannel;
class QIODevice;

// What a decoder helper does from start to end: loads every image reader while it still may,
// enters its sandbox, then decodes one picture per request until the program closes the socket.
// Needs a QCoreApplication.
class DecoderService {
public:
    // Test builds of the helper misbehave on purpose for some inputs: a hook that answers true
    // has dealt with the request itself.
    using Hook = std::function<bool(QIODevice *input, DecoderChannel &channel)>;

    int run(const Hook &hook = Hook());
};
