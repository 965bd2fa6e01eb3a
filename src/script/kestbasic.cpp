// One step: read a token and run the statement it starts.
#include "script/kestbasic.hpp"

#include "script/core.hpp"
#include "script/statement.hpp"

namespace vimbra {

namespace {

// The statement that a keyword starts; 0 for tokens that start none (line numbers,
// `then`, `to`, `end`, line ends and stray delimiters are passed over).
int dispatch(kestbasic_t* kb) {
    switch (kb->token_code) {
    case TC_PRINT:
        return statement_print(kb);
    case TC_INPUT:
        return statement_input(kb);
    case TC_IF:
        return statement_if(kb);
    case TC_FOR:
        return statement_for(kb);
    case TC_NEXT:
        return statement_next(kb);
    case TC_GOTO:
        return statement_goto(kb);
    case TC_GOSUB:
        return statement_gosub(kb);
    case TC_RETURN:
        return statement_return(kb);
    case TC_REM:
        return statement_rem(kb);
    case TC_READ:
        return statement_read(kb);
    case TC_WRITE:
        return statement_write(kb);
    case TC_DIM:
        return statement_dim(kb);
    case TC_COLOR:
        return statement_color(kb);
    case TC_PLOT:
        return statement_plot(kb);
    case TC_LINE:
        return statement_line(kb);
    case TC_BOX:
        return statement_box(kb);
    case TC_FILLBOX:
        return statement_fillbox(kb);
    case TC_CIRCLE:
        return statement_circle(kb);
    default:
        return RC_OK;
    }
}

} // namespace

int kestbasic_setup(kestbasic_t* kb, const char* program, lcdimg_t* lcd_image) {
    return core_setup(kb, program, lcd_image);
}

int kestbasic_execute(kestbasic_t* kb) {
    if (int rc = core_get_token(kb); rc != RC_OK) {
        return rc;
    }
    // Line numbers and line ends start nothing and end nothing: most steps are these.
    if (kb->token_type == TT_NUMBER || kb->token_code == TC_EOL) {
        return RC_OK;
    }
    int rc = RC_OK;
    if (kb->token_type == TT_VARIABLE && kb->token_length < CORE_TOKEN_SIZE - 1) {
        // Putting the name back and reading it again would give the same token.
        rc = assignment_from_token(kb);
    } else if (kb->token_type == TT_VARIABLE) {
        // A name cut to 79 characters is put back by those only, into the middle of the word.
        core_putback(kb);
        rc = assignment(kb);
    } else if (kb->token_type == TT_NONE) {
        // The tokenizer does not consume this character: stepping on would repeat it forever.
        return RC_SYNTAX;
    } else {
        rc = dispatch(kb);
    }
    if (rc != RC_OK) {
        return rc;
    }
    // The last token read decides, even when it was put back: `x = 5 end` ends here.
    return kb->token_code == TC_EOP || kb->token_code == TC_END ? RC_END : RC_OK;
}

int kestbasic_get_error_message(const kestbasic_t* kb, int code, char* buffer, int size) {
    return core_error_message(kb, code, buffer, size);
}

} // namespace vimbra
