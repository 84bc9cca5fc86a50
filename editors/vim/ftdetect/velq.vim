" velq scripts: files ending in .velq, and files whose first line runs velq (#!...velq).
autocmd BufNewFile,BufRead *.velq setfiletype velq
autocmd BufNewFile,BufRead * if getline(1) =~# '^#!.*\<velq\>' | setfiletype velq | endif
