// The Stream interface of the host Arduino environment, as the Arduino language reference
// documents it: a class gives available, read and peek, and gets the timed reads. They wait
// on the sketch's clock, so a read that times out costs its timeout (1000 ms unless set).
#pragma once

#include <stddef.h>

#include "Print.h"
#include "WString.h"

class Stream : public Print {
  public:
    // Bytes that can be read now.
    virtual int available() = 0;
    // The next byte, or -1 when there is none.
    virtual int read() = 0;
    // The next byte without taking it, or -1.
    virtual int peek() = 0;

    // How long the timed reads below wait for a byte, in milliseconds.
    void setTimeout(unsigned long timeout_ms) { timeout_ms_ = timeout_ms; }
    unsigned long getTimeout() const { return timeout_ms_; }

    // Reads until `target` has been read: true, or false at a timeout.
    bool find(const char* target);
    bool find(char target) {
        const char text[2] = {target, '\0'};
        return find(text);
    }
    // Up to `length` bytes into `buffer` (no terminator), stopping at a timeout; how many.
    size_t readBytes(char* buffer, size_t length);
    size_t readBytes(uint8_t* buffer, size_t length) {
        return readBytes(reinterpret_cast<char*>(buffer), length);
    }
    // The same, stopping also at `terminator`, which is taken and not stored.
    size_t readBytesUntil(char terminator, char* buffer, size_t length);
    size_t readBytesUntil(char terminator, uint8_t* buffer, size_t length) {
        return readBytesUntil(terminator, reinterpret_cast<char*>(buffer), length);
    }
    // Everything until a timeout, or until `terminator` (taken, not kept).
    String readString();
    String readStringUntil(char terminator);
    // The next integer: bytes other than a digit or '-' are skipped; 0 at a timeout.
    long parseInt();
    // The next number with a fraction: as parseInt, with one '.' taken; 0 at a timeout.
    float parseFloat();

  protected:
    // A byte, waiting up to the timeout; -1 then.
    int timedRead();
    int timedPeek();

  private:
    unsigned long timeout_ms_ = 1000;
};
