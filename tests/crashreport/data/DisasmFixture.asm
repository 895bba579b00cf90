; Instructions whose Intel-syntax text the decoder's listing is checked
; against: general-purpose forms with every addressing shape, immediates of
; each width and sign, branches, x87, SSE and AVX.
bits 64
default rel
start:
    push rbp
    mov rbp, rsp
    push r15
    sub rsp, 0x28
    add eax, 1
    add rax, -8
    and ecx, 0xff
    or byte [rdi], 0x40
    xor r8d, r8d
    cmp qword [rbp-0x10], 0
    test al, 1
    test dword [rax+rcx*4+0x100], 0x12345
    mov eax, [rsp+8]
    mov [rsp+0x20], rdi
    mov rax, 0x1122334455667788
    mov ecx, 0xfffffffe
    mov word [rax], 0x1234
    mov byte [r12+r13*2-3], 7
    mov r9, [rel start]
    lea rdi, [rel start]
    lea rax, [rbx+rsi*8]
    lea r10, [r11+0x7f]
    movzx eax, byte [rsi]
    movzx ecx, word [rdx+2]
    movsx rax, byte [rdi]
    movsxd rdx, dword [rcx+rax*4]
    movsxd rax, ecx
    imul eax, ecx, 12
    imul rdx, [rsi], 0x1000
    imul ecx, edx
    shl eax, 1
    shr rdx, cl
    sar r8, 3
    rol byte [rdi], 1
    not rcx
    neg dword [rax]
    mul rcx
    idiv r11
    inc dword [rax]
    dec r14
    cmove eax, ecx
    cmovg rdx, [rdi]
    sete al
    setne byte [rdi]
    bt eax, 3
    bts qword [rdi], rax
    bsf ecx, edx
    bswap eax
    xchg rax, rcx
    cmpxchg [rdi], ecx
    xadd [rsi], eax
    shld eax, ecx, 4
    shrd rdx, rax, cl
    push 5
    push 0x1000
    push qword [rax]
    pop r12
    call rax
    call [rax+8]
    call [rel start]
    jmp rcx
    jmp [rax+rcx*8]
    cdq
    cqo
    cdqe
    leave
    nop
    int3
back:
    ret 8
    ret
    jz start
    jnz near start
    call start
    jmp start
    jmp short back
    fld dword [rax]
    fld qword [rax]
    fld tword [rax]
    fstp qword [rsp]
    fild dword [rax]
    fadd st0, st3
    fadd st3, st0
    faddp st1, st0
    fxch st2
    fld st1
    fchs
    fnstsw ax
    movaps xmm0, [rax]
    movaps [rax], xmm1
    movups xmm2, xmm3
    movdqa xmm4, [rdi+0x10]
    movdqu [rsi], xmm5
    movss xmm0, [rax]
    movsd xmm1, [rbx+8]
    addps xmm0, xmm1
    mulsd xmm2, xmm3
    pxor xmm0, xmm0
    pcmpeqb xmm1, [rdi]
    pmovmskb eax, xmm1
    pshufd xmm0, xmm1, 0x1b
    movd xmm0, eax
    movq xmm1, rax
    movd eax, xmm0
    movq rax, xmm1
    ucomisd xmm0, xmm1
    cvtsi2sd xmm0, eax
    cvttsd2si eax, xmm0
    pminub xmm0, xmm1
    vmovdqu ymm0, [rdi]
    vmovdqu [rsi], ymm1
    vpxor ymm0, ymm1, ymm2
    vpcmpeqb ymm1, ymm0, [rdi+0x20]
    vpmovmskb eax, ymm1
    vpminub ymm2, ymm3, ymm4
    vaddps xmm0, xmm1, xmm2
    vzeroupper
    vpcmpeqb ymm1, ymm0, [rdi+0x20]
    vpsrldq ymm1, ymm2, 4
    psrlq xmm3, 5
    vmovss xmm0, [rax]
    vmovss xmm0, xmm1, xmm2
    vpbroadcastb ymm0, xmm1
    vpmovzxbw ymm0, xmm1
    vpshufb ymm0, ymm1, ymm2
    vpalignr ymm0, ymm1, ymm2, 3
    vextracti128 xmm0, ymm1, 1
    vinserti128 ymm0, ymm1, xmm2, 1
    vpermq ymm0, ymm1, 0x4e
    vptest ymm0, ymm1
    vpternlogd zmm0, zmm1, zmm2, 0x96
    andn eax, ebx, ecx
    shlx rax, rbx, rcx
    tzcnt eax, ecx
    popcnt rax, rcx
    crc32 eax, byte [rdi]
