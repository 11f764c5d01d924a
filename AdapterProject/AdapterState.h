// Module state shared by the adapter's units (every loaded copy has its own).
#pragma once

struct ISigningComponent;
struct AdapterMap;

// The answer slot: replaced (the old text zeroed and freed) by each answer.
void setAnswer(const char* text);
void setAnswerNumber(int number);
void clearAnswer();
ISigningComponent* adapterComponent();
// Registers the 134 component functions in their index order.
void registerComponentFunctions(AdapterMap* map);
// The log line of a caught component error: "[Safe Line] Safe in <where> at <line> lines in
// AdapterProject", with the warning and the answer 61011 before it.
void reportComponentError(const char* where, int line);
