// Wire form of the host bus: one JSON text per line. Every value travels as [type, name, value]
// and a table or array as [type, name, [members...]], so that types (an integer is never confused
// with its text), member order and repeated names survive the trip.
//   request:  ["call", object, method, message]  or  ["list"]
//   answer:   [status, reply]  (reply is null when the handler sent none)
#pragma once
#include <cstddef>
#include <string>
#include "platform/bus.h"

struct ZND_BusWireRequest {
    std::string op;       // "call" or "list"
    std::string object;
    std::string method;
    ZND_BusValue msg;
};

// Each returns one line of text including its terminating newline.
std::string ZND_BusWireCallLine(const char *object, const char *method, const ZND_BusValue &msg);
std::string ZND_BusWireListLine();
std::string ZND_BusWireAnswerLine(int status, const ZND_BusValue *reply);

// Parse one line (without its newline). false when the text is not a well-formed request/answer.
bool ZND_BusWireParseRequest(const char *text, size_t len, ZND_BusWireRequest *req);
bool ZND_BusWireParseAnswer(const char *text, size_t len, int *status, ZND_BusValue *reply, bool *has_reply);
