; code.asm - a tiny ZX Spectrum machine-code demo for reelmake.
;
; Prints a coloured greeting in the middle of the screen through the
; ROM's RST 16 print restart, flashes the border through all eight
; colours for about three seconds, puts the border back the way BASIC
; had it and returns to BASIC.
;
; Assembled at 32768 (0x8000); examples/code.bin holds the assembled
; bytes (make -C examples check compares them with pasmo's output).
; To rebuild them (either assembler gives the same 106 bytes):
;
;     z80asm -o examples/code.bin examples/code.asm
;     pasmo examples/code.asm examples/code.bin
;
; Call it from BASIC with RANDOMIZE USR 32768 (see loader.bas).
; The ROM expects IY and the alternate HL' untouched on return to
; BASIC: this program uses neither.

CHAN_OPEN:      equ     0x1601          ; ROM: open the channel whose stream is in A
BORDCR:         equ     23624           ; system variable: border colour * 8, lower-screen attributes
BORDER_PORT:    equ     0xFE            ; ULA port: bits 0-2 set the border colour
FRAMES:         equ     6               ; frames (1/50 s each) that each border colour stays
ROUNDS:         equ     3               ; times round the eight colours

                org     32768

start:
                ld      a,2             ; stream 2 is the upper screen
                call    CHAN_OPEN       ; so RST 16 prints there

                ld      hl,message      ; HL walks the message
                ld      b,message_end-message   ; B counts the bytes left
print_loop:
                ld      a,(hl)          ; next character or control code
                push    hl              ; keep our registers safe from
                push    bc              ; the ROM's print routine
                rst     16              ; print A on the current channel
                pop     bc
                pop     hl
                inc     hl
                djnz    print_loop

                ld      b,8*ROUNDS      ; number of colour changes
                ld      c,0             ; colour counter
border_loop:
                ld      a,c
                and     7               ; colours 0 (black) to 7 (white)
                out     (BORDER_PORT),a
                ld      e,FRAMES
wait_frames:
                halt                    ; wait for the next frame interrupt
                dec     e               ; (BASIC runs with interrupts on)
                jr      nz,wait_frames
                inc     c
                djnz    border_loop

                ld      a,(BORDCR)      ; restore BASIC's border colour:
                rrca                    ; it is kept in bits 3-5
                rrca
                rrca
                and     7
                out     (BORDER_PORT),a
                ret                     ; back to BASIC

message:
                ; Control codes understood by the print routine:
                ; 22 = AT row,column; 16 = INK; 17 = PAPER; 19 = BRIGHT.
                defb    22,10,6         ; AT 10,6
                defb    16,7,17,1,19,1  ; white ink on bright blue paper
                defb    "Hello from reelmake!"
                defb    22,12,6         ; AT 12,6
                defb    16,2,17,6,19,0  ; red ink on yellow paper
                defb    "  Loaded from tape  "
message_end:
