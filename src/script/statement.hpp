// The statements of the language; each is called with its keyword already read and
// returns 0 or a result code.
#pragma once

#include <cstdint>

namespace vimbra {

struct kestbasic_t;
struct for_record_t;

int assignment(kestbasic_t* kb);
// The assignment with its variable token already read (not put back); the same as putting
// back a token of fewer than 79 characters and calling assignment.
int assignment_from_token(kestbasic_t* kb);
int statement_goto(kestbasic_t* kb);
int statement_if(kestbasic_t* kb);
int statement_for(kestbasic_t* kb);
int statement_next(kestbasic_t* kb);
int statement_gosub(kestbasic_t* kb);
int statement_return(kestbasic_t* kb);
int statement_rem(kestbasic_t* kb);
int statement_dim(kestbasic_t* kb);

int statement_print(kestbasic_t* kb);
int statement_input(kestbasic_t* kb);
int statement_read(kestbasic_t* kb);
int statement_write(kestbasic_t* kb);

int statement_color(kestbasic_t* kb);
int statement_plot(kestbasic_t* kb);
int statement_line(kestbasic_t* kb);
int statement_box(kestbasic_t* kb);
int statement_fillbox(kestbasic_t* kb);
int statement_circle(kestbasic_t* kb);

// FOR and GOSUB stacks: 0, or RC_FOR_NEST / RC_NEXT / RC_GOSUB_NEST / RC_RETURN.
int for_stack_push(kestbasic_t* kb, const for_record_t* record);
int for_stack_pop(kestbasic_t* kb, for_record_t* record);
int gosub_push(kestbasic_t* kb, const char* position);
int gosub_pop(kestbasic_t* kb, const char** position);

} // namespace vimbra
