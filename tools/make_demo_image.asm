; Demo boot image for Halcyra Creator: a boot sector that prints the Halcyra banner on the
; screen (BIOS teletype) and on the first serial port, then halts.
; nasm -f bin make_demo_image.asm -o boot.bin

        bits 16
        org 0x7c00

COM1    equ 0x3f8

start:
        cli
        xor ax, ax
        mov ds, ax
        mov es, ax
        mov ss, ax
        mov sp, 0x7c00
        sti
        cld

        ; COM1: 115200 baud, 8 data bits, no parity, one stop bit, FIFO on.
        mov dx, COM1 + 1
        xor al, al
        out dx, al              ; no interrupts
        mov dx, COM1 + 3
        mov al, 0x80
        out dx, al              ; divisor latch on
        mov dx, COM1
        mov al, 1
        out dx, al              ; divisor 1 (low byte)
        mov dx, COM1 + 1
        xor al, al
        out dx, al              ; divisor high byte
        mov dx, COM1 + 3
        mov al, 0x03
        out dx, al              ; 8N1, latch off
        mov dx, COM1 + 2
        mov al, 0xc7
        out dx, al              ; FIFO on and cleared

        mov si, banner
.next:
        lodsb
        test al, al
        jz .done
        call put_screen
        call put_serial
        jmp .next
.done:
        cli
.halt:
        hlt
        jmp .halt

; Prints AL on the screen.
put_screen:
        push ax
        mov ah, 0x0e
        mov bx, 0x0007
        int 0x10
        pop ax
        ret

; Sends AL to COM1 once its transmit holding register is empty.
put_serial:
        push ax
        mov dx, COM1 + 5
.wait:
        in al, dx
        test al, 0x20
        jz .wait
        pop ax
        mov dx, COM1
        out dx, al
        ret

banner:
        db 13, 10
        db "  ==============================================", 13, 10
        db "   HALCYRA boot medium", 13, 10
        db "   Written by Halcyra Creator - the drive boots.", 13, 10
        db "  ==============================================", 13, 10
        db 0

        times 510 - ($ - $$) db 0
        dw 0xaa55
