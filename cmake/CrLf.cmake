# Copies the text file INPUT to OUTPUT with CR LF line ends, as every Windows
# editor shows them, the oldest Notepad included.
#   cmake -DINPUT=file -DOUTPUT=file.txt -P CrLf.cmake
file(READ "${INPUT}" text)
string(REPLACE "\r\n" "\n" text "${text}")
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE "${OUTPUT}" "${text}")
