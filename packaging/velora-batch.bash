# bash completion for velora-batch
_velora_batch()
{
    local cur prev words cword split
    _init_completion -s || return

    case $prev in
        --color | --gray | -j | --jobs)
            return
            ;;
        --film)
            COMPREPLY=($(compgen -W 'reddish blueish' -- "$cur"))
            return
            ;;
        --format)
            COMPREPLY=($(compgen -W 'jpeg png' -- "$cur"))
            return
            ;;
        -o | --output)
            _filedir -d
            return
            ;;
        --files-from)
            _filedir
            return
            ;;
        -h | --help | --version)
            return
            ;;
    esac

    $split && return

    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W '--color= --gray= --no-gray-contrast --film= --output=
            --jobs= --format= --overwrite --allow-damaged --recursive --files-from= --null --quiet --help
            --version -o -j -r -0 -q -h' -- "$cur"))
        [[ ${COMPREPLY-} == *= ]] && compopt -o nospace
        return
    fi

    # The pictures velora-batch opens, and folders (to reach them, or to walk with -r).
    _filedir '@(jp?(e)g|jpe|jfif|png|bmp|dib|gif|tif?(f)|ico|webp|hei[cf]|avif|dng|cr[23w]|nef|nrw|arw|sr[2f]|raf|orf|rw[2l]|pef|srw|mrw|dcr|kdc|k25|x3f|3fr|fff|iiq|mos|mef|erf)'
} &&
    complete -F _velora_batch velora-batch
