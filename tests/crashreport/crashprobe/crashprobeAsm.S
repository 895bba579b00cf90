// Hand-written functions without unwind entries (no CFI directives): the
// unwind tables know nothing of their frames, and the stack scanner has to
// find the callers above them.
        .intel_syntax noprefix
        .text

// void crashprobe_asm_fault(uint64_t planted): keeps planted on its stack,
// then writes to address 0.
        .globl  crashprobe_asm_fault
        .type   crashprobe_asm_fault, @function
crashprobe_asm_fault:
        push    rbx
        push    rdi
        sub     rsp, 8
        xor     eax, eax
        mov     dword ptr [rax], 1
        add     rsp, 8
        pop     rdi
        pop     rbx
        ret
        .size   crashprobe_asm_fault, .-crashprobe_asm_fault

// void crashprobe_asm_call(void (*callback)(), uint64_t planted): keeps
// planted on its stack and calls callback.
        .globl  crashprobe_asm_call
        .type   crashprobe_asm_call, @function
crashprobe_asm_call:
        push    rbx
        push    rsi
        push    rsi
        call    rdi
        add     rsp, 16
        pop     rbx
        ret
        .size   crashprobe_asm_call, .-crashprobe_asm_call

// A call nobody is in: crashprobe_decoy_return only looks like a return
// address.
        .type   crashprobe_decoy, @function
crashprobe_decoy:
        call    crashprobe_decoy_target
        .globl  crashprobe_decoy_return
crashprobe_decoy_return:
        ret
        .size   crashprobe_decoy, .-crashprobe_decoy
        .type   crashprobe_decoy_target, @function
crashprobe_decoy_target:
        ret
        .size   crashprobe_decoy_target, .-crashprobe_decoy_target

        .section .note.GNU-stack,"",@progbits
