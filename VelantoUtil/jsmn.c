/* The one translation unit that carries jsmn's tokenizer (default, non-strict mode). */
#include <jsmn.h>
